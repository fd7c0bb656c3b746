#pragma once
// Small ASCII helpers used inside the text layer. Case folding touches only
// the letters a-z and A-Z, so UTF-8 sequences pass through unchanged.

#include <cstddef>
#include <string>
#include <string_view>

namespace pelorix::ascii {

// Blanks and control characters, as trimmed everywhere in the program.
inline bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

inline std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsTrimmed(s[b]))
    ++b;
  while (e > b && IsTrimmed(s[e - 1]))
    --e;
  return s.substr(b, e - b);
}

inline char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Value of a hexadecimal digit in either case, -1 for any other character.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// Value of a base64 alphabet character, -1 for any other character.
inline int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z')
    return c - 'A';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 26;
  if (c >= '0' && c <= '9')
    return c - '0' + 52;
  if (c == '+')
    return 62;
  if (c == '/')
    return 63;
  return -1;
}

inline std::string ToUpper(std::string_view s) {
  std::string r(s);
  for (auto& c : r)
    c = Upper(c);
  return r;
}

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i]))
      return false;
  }
  return true;
}

// Whether `s` holds `pattern` at `pos`, ignoring case.
inline bool MatchAtNoCase(std::string_view s, std::size_t pos, std::string_view pattern) {
  return pos <= s.size() && s.size() - pos >= pattern.size() &&
         EqualNoCase(s.substr(pos, pattern.size()), pattern);
}

// First position >= from of `pattern` (lower case, starting with a
// non-letter) in `s`, ignoring case; npos when absent.
inline std::size_t FindNoCase(std::string_view s, std::string_view pattern, std::size_t from = 0) {
  if (pattern.empty())
    return from <= s.size() ? from : std::string_view::npos;
  const char first = pattern.front();
  for (std::size_t p = s.find(first, from); p != std::string_view::npos; p = s.find(first, p + 1)) {
    if (MatchAtNoCase(s, p, pattern))
      return p;
  }
  return std::string_view::npos;
}

}  // namespace pelorix::ascii
