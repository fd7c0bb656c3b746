// Small text helpers: list matching, IP addresses, file names, padding,
// dates and the program version.

#include "text/textutil.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <system_error>

#include "pelorix_version.h"
#include "text/ansi.h"
#include "text/asciiutil.h"

namespace pelorix {
namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Decimal digits of one address part; empty counts as 0.
long long AddressPart(std::string_view part) {
  part = ascii::Trim(part);
  long long value = 0;
  for (char c : part) {
    if (!IsDigit(c))
      throw std::invalid_argument("not a number: " + std::string(part));
    value = value * 10 + (c - '0');
    if (value > INT32_MAX)
      throw std::out_of_range("number too large: " + std::string(part));
  }
  return value;
}

std::string ReplaceChars(std::string_view text, std::string_view chars, char with) {
  std::string out(ascii::Trim(text));
  for (auto& c : out) {
    if (chars.find(c) != std::string_view::npos)
      c = with;
  }
  return out;
}

}  // namespace

long long HexValue(std::string_view text) {
  text = ascii::Trim(text);
  long long value = 0;
  for (char c : text) {
    const int digit = ascii::HexDigitValue(c);
    if (digit < 0)
      break;
    if (value > (LLONG_MAX - digit) / 16)
      return LLONG_MAX;
    value = value * 16 + digit;
  }
  return value;
}

std::string FindListEntry(const std::vector<std::string>& entries, std::string_view text) {
  const std::string upper = ascii::ToUpper(ascii::Trim(text));
  for (const auto& entry : entries) {
    if (entry.empty())
      continue;
    if (upper.find(ascii::ToUpper(entry)) != std::string::npos)
      return entry;
  }
  return {};
}

std::string NormalizeIp(std::string_view address) {
  address = ascii::Trim(address);
  std::string out;
  std::size_t parts = 0;
  std::size_t from = 0;
  for (;;) {
    const std::size_t dot = address.find('.', from);
    const std::string_view part =
        address.substr(from, dot == std::string_view::npos ? std::string_view::npos : dot - from);
    if (++parts > 4)
      throw std::invalid_argument("more than four parts: " + std::string(address));
    if (!out.empty())
      out.push_back('.');
    out.append(ZeroPad(AddressPart(part), 3));
    if (dot == std::string_view::npos)
      break;
    from = dot + 1;
  }
  // Missing parts count as empty ones.
  for (; parts < 4; ++parts)
    out.append(".000");
  return out;
}

std::string ExtractIpAddresses(std::string_view text) {
  std::string clean(ascii::Trim(text));
  for (auto& c : clean) {
    if (!IsDigit(c) && c != '.')
      c = ' ';
  }
  std::string out;
  std::size_t from = 0;
  while (from < clean.size()) {
    const std::size_t start = clean.find_first_not_of(' ', from);
    if (start == std::string::npos)
      break;
    std::size_t end = clean.find(' ', start);
    if (end == std::string::npos)
      end = clean.size();
    from = end;
    const std::string_view token(clean.data() + start, end - start);
    std::size_t dots = 0;
    for (char c : token)
      dots += c == '.';
    if (dots != 3)
      continue;
    try {
      std::string address = NormalizeIp(token);
      if (!out.empty())
        out.push_back('|');
      out.append(address);
    } catch (const std::out_of_range&) {
      // A crafted part too large for a number is no address.
    }
  }
  return out;
}

std::string CleanFileName(std::string_view text) {
  return ReplaceChars(text, ".-\\/:*?\"<>|%", '_');
}

std::string StripNameChars(std::string_view text) {
  std::string out = ReplaceChars(text, "=-\\/:*?\"<>|%", '_');
  std::erase(out, '_');
  return out;
}

std::string BlanksToZeros(std::string_view text) {
  std::string out(text);
  for (auto& c : out) {
    if (c == ' ')
      c = '0';
  }
  return out;
}

std::string PadLeft(std::string_view text, std::size_t width) {
  const std::string_view trimmed = ascii::Trim(text);
  const std::size_t columns = ToAnsi(trimmed).size();
  std::string out;
  if (columns < width)
    out.assign(width - columns, ' ');
  out.append(trimmed);
  return out;
}

std::string ZeroPad(long long value, std::size_t width) {
  std::string digits = std::to_string(value);
  const std::size_t sign = value < 0 ? 1 : 0;
  if (digits.size() < width)
    digits.insert(sign, width - digits.size(), '0');
  return digits;
}

std::string RepeatText(std::string_view text, std::size_t count) {
  std::string out;
  out.reserve(text.size() * count);
  for (std::size_t i = 0; i < count; ++i)
    out.append(text);
  return out;
}

std::string DateText(std::time_t when) {
  std::tm local{};
  if (localtime_r(&when, &local) == nullptr)
    return {};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d\xE5\xB9\xB4%02d\xE6\x9C\x88%02d\xE6\x97\xA5",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return buf;
}

std::string FileVersionText() {
  // Always four numbers, whatever the project version spells out.
  const std::string_view version = PELORIX_VERSION;
  std::string out;
  std::size_t numbers = 0;
  std::size_t from = 0;
  while (numbers < 4 && from <= version.size()) {
    std::size_t dot = version.find('.', from);
    if (dot == std::string_view::npos)
      dot = version.size();
    std::string_view number = version.substr(from, dot - from);
    if (numbers > 0)
      out.push_back('.');
    out.append(number.empty() ? "0" : std::string(number));
    ++numbers;
    from = dot + 1;
  }
  for (; numbers < 4; ++numbers)
    out.append(".0");
  return out;
}

bool FolderExists(const std::filesystem::path& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xc0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xe0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (cp & 0x3f));
  }
}

}  // namespace pelorix
