#include <gtest/gtest.h>

#include "mime/mail_date.h"

namespace pelorix {
namespace {

// UTC epoch seconds of a civil time, computed through timegm as a second
// opinion on the parser's own calendar arithmetic.
std::time_t Utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return timegm(&tm);
}

TEST(MailDate, ReadsTheUsualForms) {
  struct Case {
    const char* text;
    std::time_t expected;
  } cases[] = {
      {"Tue, 08 Dec 2026 17:12:44 +0000", Utc(2026, 12, 8, 17, 12, 44)},
      {"Tue,  8 Dec 2026 17:12:44 GMT", Utc(2026, 12, 8, 17, 12, 44)},
      {"8 Dec 2026 17:12:44 -0000", Utc(2026, 12, 8, 17, 12, 44)},
      {"wed, 2 dec 2026 01:02:03 +0100", Utc(2026, 12, 2, 0, 2, 3)},
      {"Mon, 7 Dec 2026 23:30:00 -0500", Utc(2026, 12, 8, 4, 30, 0)},
      {"Dec 8 2026 10:00:00 +0000", Utc(2026, 12, 8, 10, 0, 0)},
      {"Tue Dec  8 17:12:44 2026", Utc(2026, 12, 8, 17, 12, 44)},
      {"Tue, 08-Dec-2026 17:12:44 GMT", Utc(2026, 12, 8, 17, 12, 44)},
      {"8-Dec-26 10:00 +0800", Utc(2026, 12, 8, 2, 0, 0)},
      {"8 Dec 2026", Utc(2026, 12, 8)},
      {"29 Feb 2024 12:00:00 +0000", Utc(2024, 2, 29, 12)},
      {"Sat, 1 Jan 2000 00:00:00 +1400", Utc(1999, 12, 31, 10)},
      {"1 Jan 2000 00:00:00 EST", Utc(2000, 1, 1)},              // zone names count as UTC
      {"1 Jan 2000 00:00:00 +08", Utc(2000, 1, 1)},              // malformed offset
      {"1 Jan 2000 10:xx:05 +0000", Utc(2000, 1, 1, 10, 0, 5)},  // unreadable part is 0
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseMailDate(c.text), c.expected) << c.text;
}

TEST(MailDate, TwoDigitYearsAndZoneWithComment) {
  EXPECT_EQ(ParseMailDate("Thu, 3 Dec 03 12:00:00 +0000"), Utc(2003, 12, 3, 12));
  EXPECT_EQ(ParseMailDate("Wed, 3 Dec 97 12:00:00 +0000"), Utc(1997, 12, 3, 12));
  EXPECT_EQ(ParseMailDate("1 Jan 79 00:00:00 GMT"), Utc(2079, 1, 1));
  EXPECT_EQ(ParseMailDate("1 Jan 80 00:00:00 GMT"), Utc(1980, 1, 1));
  EXPECT_EQ(ParseMailDate("1 Jan 103 00:00:00 GMT"), Utc(2003, 1, 1));
  // "+0800 (CST)": eight hours back to UTC.
  EXPECT_EQ(ParseMailDate("Tue, 08 Dec 2026 09:15:00 +0800 (CST)"), Utc(2026, 12, 8, 1, 15));
  EXPECT_EQ(ParseMailDate("Tue, 08 Dec 2026 09:15:00 GMT"), Utc(2026, 12, 8, 9, 15));
}

TEST(MailDate, UnreadableGivesZero) {
  for (const char* text :
       {"", "   ", "Tuesday", "Tue,", "yesterday", "32 Dec 2026 10:00:00", "30 Feb 2026 10:00:00",
        "8 Foo 2026", "8 Dec", "8 Dec abc", "8 Dec 2026 25:00:00 +0000", "8 Dec 2026 10:61:00",
        "2026-12-08 10:00:00", "0 Dec 2026", "8 Dec 99999999999"}) {
    EXPECT_EQ(ParseMailDate(text), 0) << text;
  }
}

TEST(MailDate, FormatsForSendingAndReadsItBack) {
  std::time_t t = Utc(2026, 3, 5, 7, 8, 9);
  EXPECT_EQ(FormatMailDate(t), "Thu, 05 Mar 2026 07:08:09 +0000");
  EXPECT_EQ(ParseMailDate(FormatMailDate(t)), t);
}

}  // namespace
}  // namespace pelorix
