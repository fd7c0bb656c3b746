#pragma once
// Small text helpers of the protocol layer (ASCII rules, as on the wire).

#include <string>
#include <string_view>

namespace pelorix {

// Removes control characters and blanks from both ends.
std::string Trim(std::string_view text);

// ASCII comparison without regard to case.
bool SameText(std::string_view a, std::string_view b);

std::string UpperCase(std::string_view text);

// Decimal integer with an optional sign, the whole text; def otherwise.
long long StrToIntDef(std::string_view text, long long def);

// Like StrToIntDef but raises EConvertError "'%s' is not a valid integer value".
long long StrToInt(std::string_view text);

}  // namespace pelorix
