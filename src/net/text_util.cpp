#include "net/text_util.h"

#include <charconv>

#include "net/errors.h"

namespace pelorix {

namespace {

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
