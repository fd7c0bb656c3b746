#include "mime/mail_date.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "mime/header_util.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

constexpr std::array<std::string_view, 7> kDays = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr std::array<std::string_view, 12> kMonths = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                      "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// 1..12, or 0 when the text does not start with an English month name.
int MonthNumber(std::string_view s) {
  if (s.size() < 3)
    return 0;
  for (std::size_t m = 0; m < kMonths.size(); ++m) {
    if (ascii::EqualNoCase(s.substr(0, 3), kMonths[m]))
      return static_cast<int>(m) + 1;
  }
  return 0;
}

std::optional<long long> Number(std::string_view s) {
  if (s.empty() || s.size() > 9)
    return std::nullopt;
  long long v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size())
    return std::nullopt;
  return v;
}

// Splits off the next token ended by `sep` (runs of separators skipped).
std::string_view NextToken(std::string_view& rest, char sep) {
  while (!rest.empty() && (rest.front() == sep || rest.front() == ' ' || rest.front() == '\t'))
    rest.remove_prefix(1);
  std::size_t end = 0;
  while (end < rest.size() && rest[end] != sep && rest[end] != ' ' && rest[end] != '\t')
    ++end;
  std::string_view tok = rest.substr(0, end);
  rest.remove_prefix(end);
  if (!rest.empty() && rest.front() == sep)
    rest.remove_prefix(1);
  return tok;
}

bool IsLeap(long long y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(long long y, int m) {
  static constexpr std::array<int, 12> kLen = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kLen[static_cast<std::size_t>(m - 1)];
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// "hh:mm:ss"; a missing or unreadable part counts as 0.
void ParseTime(std::string_view s, int& h, int& mi, int& sec) {
  std::array<int, 3> parts{0, 0, 0};
  for (std::size_t k = 0; k < parts.size() && !s.empty(); ++k) {
    auto colon = s.find(':');
    auto v = Number(s.substr(0, colon));
    parts[k] = v && *v >= 0 && *v < 100 ? static_cast<int>(*v) : 0;
    s = colon == std::string_view::npos ? std::string_view() : s.substr(colon + 1);
  }
  h = parts[0];
  mi = parts[1];
  sec = parts[2];
}

// "+hhmm" / "-hhmm" (anything may follow); names and malformed offsets give 0.
int ZoneOffsetSeconds(std::string_view zone) {
  if (zone.size() <= 4 || (zone[0] != '+' && zone[0] != '-'))
    return 0;
  auto hh = Number(zone.substr(1, 2));
  auto mm = Number(zone.substr(3, 2));
  if (!hh || !mm || *hh < 0 || *mm < 0)
    return 0;
  int off = static_cast<int>(*hh * 3600 + *mm * 60);
  return zone[0] == '-' ? -off : off;
}

}  // namespace

std::time_t ParseMailDate(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  if (s.empty())
    return 0;
  if (s.size() >= 3) {
    for (auto day : kDays) {
      if (ascii::EqualNoCase(s.substr(0, 3), day)) {
        auto blank = s.find_first_of(" \t");
        if (blank == std::string_view::npos)
          return 0;
        s = TrimBlanks(s.substr(blank + 1));
        break;
      }
    }
  }
  auto firstBlank = s.find_first_of(" \t");
  auto dash = s.find('-');
  char sep = dash != std::string_view::npos && dash >= 1 &&
                     (firstBlank == std::string_view::npos || dash < firstBlank)
                 ? '-'
                 : ' ';

  std::string_view rest = s;
  std::string_view t1 = NextToken(rest, sep);
  std::string_view t2 = NextToken(rest, sep);
  int month = MonthNumber(t1);
  std::string_view dayText = t2;
  if (month == 0) {
    month = MonthNumber(t2);
    dayText = t1;
  }
  if (!dayText.empty() && dayText.back() == ',')
    dayText.remove_suffix(1);
  auto day = Number(dayText);
  if (month == 0 || !day)
    return 0;

  std::string_view timeText;
  std::string_view yearText = NextToken(rest, ' ');
  if (!yearText.empty() && yearText.back() == ',')
    yearText.remove_suffix(1);
  auto year = Number(yearText);
  if (!year) {
    // asctime form: the time comes before the year.
    timeText = yearText;
    yearText = NextToken(rest, ' ');
    year = Number(yearText);
    if (!year)
      return 0;
  }
  if (*year < 80) {
    *year += 2000;
  } else if (*year < 1000) {
    *year += 1900;  // 2-digit years from 80, and the 3-digit years of old clients
  }
  if (timeText.empty() && rest.find(':') != std::string_view::npos)
    timeText = NextToken(rest, ' ');
  int h = 0, mi = 0, sec = 0;
  ParseTime(timeText, h, mi, sec);
  std::string_view zone = TrimBlanks(rest);

  if (*day < 1 || *day > DaysInMonth(*year, month) || h > 23 || mi > 59 || sec > 60 || *year > 9999)
    return 0;
  long long t = DaysFromCivil(*year, month, static_cast<int>(*day)) * 86400LL + h * 3600 + mi * 60 +
                sec - ZoneOffsetSeconds(zone);
  return static_cast<std::time_t>(t);
}

std::string FormatMailDate(std::time_t utc) {
  std::tm tm{};
  gmtime_r(&utc, &tm);
  // Written by hand: strftime's names follow the process locale.
  auto title = [](std::string_view upper) {
    return std::string{upper[0], static_cast<char>(upper[1] - 'A' + 'a'),
                       static_cast<char>(upper[2] - 'A' + 'a')};
  };
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d +0000",
                title(kDays[static_cast<std::size_t>(tm.tm_wday)]).c_str(), tm.tm_mday,
                title(kMonths[static_cast<std::size_t>(tm.tm_mon)]).c_str(), tm.tm_year + 1900,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

}  // namespace pelorix
