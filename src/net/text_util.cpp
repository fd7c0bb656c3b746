#include "net/text_util.h"

#include <charconv>

#include "net/errors.h"

namespace pelorix {

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') {
    ++begin;
  }
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') {
    --end;
  }
  return std::string(text.substr(begin, end - begin));
}

namespace {

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool ParseInt(std::string_view text, long long& value) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
      return false;
    }
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
      return false;
    }
  }
  return true;
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (auto& c : result) {
    c = AsciiUpper(c);
  }
  return result;
}

long long StrToIntDef(std::string_view text, long long def) {
  long long value = 0;
  return ParseInt(text, value) ? value : def;
}

long long StrToInt(std::string_view text) {
  long long value = 0;
  if (!ParseInt(text, value)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
  }
  return value;
}

}  // namespace pelorix
