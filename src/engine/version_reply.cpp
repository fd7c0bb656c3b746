#include "engine/version_reply.h"

#include <charconv>

#include "text/ansi.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Byte length of the first `count` UTF-8 characters of s (all of s when shorter).
std::size_t Utf8Prefix(std::string_view s, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t n = 0; n < count && pos < s.size(); ++n) {
    ++pos;
    while (pos < s.size() && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80)
      ++pos;
  }
  return pos;
}

}  // namespace

std::optional<double> ParseVersionNumber(std::string_view text) {
  text = ascii::Trim(text);
  // Checked by hand: from_chars alone would take "inf", "nan" and hex forms.
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    ++i;
  const std::size_t mantissa = i;
  std::size_t digits = 0;
  while (i < text.size() && IsDigit(text[i]))
    ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i]))
      ++i, ++digits;
  }
  if (digits == 0)
    return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
      ++i;
    std::size_t expDigits = 0;
    while (i < text.size() && IsDigit(text[i]))
      ++i, ++expDigits;
    if (expDigits == 0)
      return std::nullopt;
  }
  if (i != text.size())
    return std::nullopt;
  double value = 0;
  const char* first = text.data() + mantissa;
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return text.front() == '-' ? -value : value;
}

std::optional<double> ProgramVersionNumber(std::string_view fileVersion) {
  std::string text;
  bool seenDot = false;
  for (const char c : fileVersion) {
    if (c == '.') {
      if (seenDot)
        continue;
      seenDot = true;
    }
    text += c;
  }
  return ParseVersionNumber(text);
}

TVersionAnswer ReadVersionReply(std::string_view reply, double programVersion) {
  const std::string r(ascii::Trim(RawToUtf8(ascii::Trim(reply))));
  std::string v = r.substr(0, Utf8Prefix(r, 7));
  TVersionAnswer answer;
  answer.Text = r.substr(Utf8Prefix(r, 8));
  if (v.empty())
    v = "1.00";
  const auto newest = ParseVersionNumber(v);
  if (!newest) {
    answer.Verdict = TVersionVerdict::Unreadable;
  } else {
    answer.Verdict =
        *newest > programVersion ? TVersionVerdict::NewVersion : TVersionVerdict::NoNewVersion;
  }
  return answer;
}

std::string VersionFileAddress(std::string_view configured) {
  const std::string_view address = ascii::Trim(configured);
  if (ascii::MatchAtNoCase(address, 0, "http://") || ascii::MatchAtNoCase(address, 0, "https://"))
    return std::string(address);
  return "http://" + std::string(address);
}

TVersionNotice VersionNotice(const TVersionAnswer& answer, std::string_view homePage) {
  switch (answer.Verdict) {
    case TVersionVerdict::NewVersion:
      return {"最新通告!",
              "The new version is " + answer.Text + "\n下载地址: " + std::string(homePage)};
    case TVersionVerdict::NoNewVersion:
      return {"没有新版本!", "Pelorix暂时没有新版本!"};
    case TVersionVerdict::Unreadable:
      break;
  }
  return {"No new version!", "No any new version can be found!"};
}

}  // namespace pelorix
