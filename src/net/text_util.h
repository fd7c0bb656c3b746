#pragma once
// Small text helpers of the protocol layer (ASCII rules, as on the wire).

#include <string>
#include <string_view>

namespace pelorix {

// Decimal integer with an optional sign, the whole text; def otherwise.
long long StrToIntDef(std::string_view text, long long def);

// Like StrToIntDef but raises EConvertError "'%s' is not a valid integer value".
long long StrToInt(std::string_view text);

}  // namespace pelorix
