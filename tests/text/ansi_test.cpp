#include "text/ansi.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

// "中文" in GB18030 / GBK.
const std::string kZhongWenGbk = "\xD6\xD0\xCE\xC4";
const std::string kZhongWenUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";

TEST(AnsiCodec, RoundTripsAsciiChineseAndCharactersOutsideGbk) {
  EXPECT_EQ(ToAnsi("plain text"), "plain text");
  EXPECT_EQ(ToAnsi(kZhongWenUtf8), kZhongWenGbk);
  EXPECT_EQ(FromAnsi(kZhongWenGbk), kZhongWenUtf8);
  // U+1F600 is not in GBK; GB18030 stores it in four bytes and keeps it.
  const std::string emoji = "\xF0\x9F\x98\x80";
  std::string disk = ToAnsi(emoji);
  EXPECT_EQ(disk.size(), 4u);
  EXPECT_EQ(FromAnsi(disk), emoji);
  // Euro sign, Cyrillic, Japanese kana.
  const std::string mixed = "\xE2\x82\xAC \xD0\x96 \xE3\x81\x82";
  EXPECT_EQ(FromAnsi(ToAnsi(mixed)), mixed);
}

TEST(AnsiCodec, InvalidInputNeverThrows) {
  // Broken UTF-8 becomes "?" on the way out.
  EXPECT_EQ(ToAnsi("a\xFF"
                   "b"),
            "a?b");
  EXPECT_EQ(ToAnsi("x\xE4\xB8"), "x??");
  // An undecodable GB18030 byte becomes U+FFFD on the way in.
  EXPECT_EQ(FromAnsi("a\xFF"
                     "b"),
            "a\xEF\xBF\xBD"
            "b");
  // A lead byte at the very end.
  EXPECT_EQ(FromAnsi("ab\xD6"), "ab\xEF\xBF\xBD");
  EXPECT_EQ(ToAnsi(""), "");
  EXPECT_EQ(FromAnsi(""), "");
}

TEST(AnsiCodec, CutNeverSplitsACharacter) {
  std::string disk = "a" + kZhongWenGbk;  // 1 + 2 + 2 bytes
  EXPECT_EQ(CutAnsi(disk, 5), disk);
  EXPECT_EQ(CutAnsi(disk, 4), "a\xD6\xD0");
  EXPECT_EQ(CutAnsi(disk, 2), "a");
  EXPECT_EQ(CutAnsi(disk, 1), "a");
  EXPECT_EQ(CutAnsi(disk, 0), "");
  // A four-byte character is kept whole or dropped whole.
  std::string four = ToAnsi("\xF0\x9F\x98\x80");
  std::string s = "ab" + four;
  for (std::size_t n = 2; n < 6; ++n)
    EXPECT_EQ(CutAnsi(s, n), "ab") << n;
  EXPECT_EQ(CutAnsi(s, 6), s);
}

TEST(AnsiCodec, CutOfUtf8TextCountsOnDiskBytes) {
  // Six UTF-8 bytes are four on disk.
  EXPECT_EQ(CutToAnsiBytes(kZhongWenUtf8, 4), kZhongWenUtf8);
  EXPECT_EQ(CutToAnsiBytes(kZhongWenUtf8, 3), "\xE4\xB8\xAD");
  EXPECT_EQ(ToAnsiCut(kZhongWenUtf8, 3), "\xD6\xD0");
  EXPECT_EQ(CutUtf8(kZhongWenUtf8, 5), "\xE4\xB8\xAD");
  EXPECT_EQ(CutUtf8("abc", 5), "abc");
}

TEST(AnsiCodec, CharsetConversion) {
  std::string out;
  ASSERT_TRUE(CharsetToUtf8(kZhongWenGbk, "gb2312", out));
  EXPECT_EQ(out, kZhongWenUtf8);
  ASSERT_TRUE(CharsetToUtf8("caf\xE9", "ISO-8859-1", out));
  EXPECT_EQ(out, "caf\xC3\xA9");
  ASSERT_TRUE(CharsetToUtf8("\xA4\xA4", "BIG5", out));
  EXPECT_EQ(out, kZhongWenUtf8.substr(0, 3));
  ASSERT_TRUE(CharsetToUtf8("ok\xFF", "utf-8", out));
  EXPECT_EQ(out, "ok\xEF\xBF\xBD");
  out = "unchanged";
  EXPECT_FALSE(CharsetToUtf8("x", "NO-SUCH-CHARSET", out));
  EXPECT_EQ(out, "unchanged");
  ASSERT_TRUE(Utf8ToCharset("caf\xC3\xA9", "ISO-8859-1", out));
  EXPECT_EQ(out, "caf\xE9");
}

TEST(AnsiCodec, RawHeaderBytesKeepUtf8ElseReadGb18030) {
  EXPECT_EQ(RawToUtf8(kZhongWenUtf8), kZhongWenUtf8);
  EXPECT_EQ(RawToUtf8(kZhongWenGbk), kZhongWenUtf8);
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
}

}  // namespace
}  // namespace pelorix
