#include <gtest/gtest.h>

#include <string>

#include "text/ansi.h"

namespace pelorix {
namespace {

// Charset names come from mail; many of them, known or made up, must neither
// pile up nor disturb later conversions.
TEST(AnsiCodec, ManyCharsetNamesKeepConversionsRight) {
  std::string out;
  for (int i = 0; i < 2000; ++i) {
    EXPECT_FALSE(CharsetToUtf8("a", "X-MADE-UP-" + std::to_string(i), out));
  }
  const char* known[] = {"WINDOWS-1250", "WINDOWS-1251", "WINDOWS-1252", "WINDOWS-1253",
                         "WINDOWS-1254", "WINDOWS-1255", "WINDOWS-1256", "WINDOWS-1257",
                         "WINDOWS-1258", "KOI8-R",       "KOI8-U",       "CP437",
                         "CP850",        "CP866",        "BIG5",         "EUC-JP",
                         "SHIFT_JIS",    "EUC-KR",       "UTF-16LE",     "UTF-16BE",
                         "MACINTOSH",    "ISO-2022-JP",  "UTF-7",        "CP1125"};
  for (int round = 0; round < 3; ++round) {
    for (int n = 1; n <= 16; ++n) {
      if (n == 12)
        continue;
      ASSERT_TRUE(CharsetToUtf8("A", "ISO-8859-" + std::to_string(n), out)) << n;
      EXPECT_EQ(out, "A");
    }
    for (const char* cs : known) {
      ASSERT_TRUE(CharsetToUtf8("", cs, out)) << cs;
    }
    ASSERT_TRUE(CharsetToUtf8("\xE9", "ISO-8859-1", out));
    EXPECT_EQ(out, "\xC3\xA9");
    EXPECT_EQ(FromAnsi("\xD6\xD0"), "\xE4\xB8\xAD");
    EXPECT_EQ(ToAnsi("\xE4\xB8\xAD"), "\xD6\xD0");
  }
}

}  // namespace
}  // namespace pelorix
