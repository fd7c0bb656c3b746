#pragma once
// Small text helpers for header values: case-insensitive comparison, trimming,
// MIME parameters (charset, boundary, name, filename).

#include <string>
#include <string_view>

namespace pelorix {

bool StartsWithNoCase(std::string_view s, std::string_view prefix);
// Position of `needle` in `hay` ignoring ASCII case, npos when absent.
std::size_t FindNoCase(std::string_view hay, std::string_view needle);
std::string AsciiLower(std::string_view s);
// Removes blanks and tabs at both ends.
std::string_view TrimBlanks(std::string_view s);

// The value of parameter `name` of a structured header value such as
// `text/plain; charset="gb2312"`, unquoted; RFC 2231 extended and continued
// forms (name*=, name*0*=) are joined and percent-decoded, and their charset
// is reported through `charset` when given. Empty when absent.
std::string HeaderParam(std::string_view value, std::string_view name,
                        std::string* charset = nullptr);

// A header value as kept for display: trimmed, raw 8-bit text read as UTF-8
// when valid, else as GB18030.
std::string PlainHeaderValue(std::string_view raw);

// The first item of a structured value: the text before the first ";", trimmed.
std::string_view HeaderMainValue(std::string_view value);

}  // namespace pelorix
