#include <gtest/gtest.h>

#include <string>

#include "text/ansi.h"
#include "text/textutil.h"

namespace pelorix {
namespace {

// "中文" in UTF-8 and in GBK.
const std::string kZhongWen = "\xE4\xB8\xAD\xE6\x96\x87";
const std::string kZhongWenGbk = "\xD6\xD0\xCE\xC4";

TEST(DecodeBase64, DecodesGroupsAndPadding) {
  EXPECT_EQ(DecodeBase64("TWFu"), "Man");
  EXPECT_EQ(DecodeBase64("TWE="), "Ma");
  EXPECT_EQ(DecodeBase64("TQ=="), "M");
  EXPECT_EQ(DecodeBase64(""), "");
  // A short last group is read as if padded.
  EXPECT_EQ(DecodeBase64("TWFuTWE"), "ManMa");
  EXPECT_EQ(DecodeBase64("TWFuTQ"), "ManM");
  // Padding ends the decoding; what follows is ignored.
  EXPECT_EQ(DecodeBase64("TQ==TWFu"), "M");
  EXPECT_EQ(DecodeBase64("TWE=TWFu"), "Ma");
  // Line breaks and blanks are skipped.
  EXPECT_EQ(DecodeBase64("TW\r\nFu TWFu"), "ManMan");
  // Every byte value survives.
  EXPECT_EQ(DecodeBase64("AP8="), std::string("\x00\xFF", 2));
  EXPECT_EQ(DecodeBase64("1tDOxA=="), kZhongWenGbk);
}

TEST(DecodeBase64, MalformedInputNeverReadsPastTheEnd) {
  EXPECT_EQ(DecodeBase64("="), "");
  EXPECT_EQ(DecodeBase64("T"), "");
  EXPECT_EQ(DecodeBase64("=TWF"), "");
  EXPECT_EQ(DecodeBase64("!!!!"), "");
}

TEST(DecodeEncodedWord, PlainTextIsTrimmedOnly) {
  EXPECT_EQ(DecodeEncodedWord("  Hello world \r\n"), "Hello world");
  EXPECT_EQ(DecodeEncodedWord(""), "");
  EXPECT_EQ(DecodeEncodedWord("a = ? b ?= c"), "a = ? b ?= c");
}

TEST(DecodeEncodedWord, BAndQWordsInAnyCase) {
  // Exactly the bytes of the base64 text, nothing added for "?=".
  EXPECT_EQ(DecodeEncodedWord("=?GB2312?B?1tDOxA==?="), kZhongWen);
  EXPECT_EQ(DecodeEncodedWord("=?gb2312?b?1tDOxA==?="), kZhongWen);
  EXPECT_EQ(DecodeEncodedWord("=?UTF-8?B?5Lit5paH?="), kZhongWen);
  // Q: "_" is a blank, letters after the last escape are kept.
  EXPECT_EQ(DecodeEncodedWord("=?ISO-8859-1?Q?Caf=E9_au_lait?="), "Caf\xC3\xA9 au lait");
  EXPECT_EQ(DecodeEncodedWord("=?utf-8?q?=E4=B8=AD=E6=96=87abc?="), kZhongWen + "abc");
  EXPECT_EQ(DecodeEncodedWord("=?gbk?Q?=D6=D0=ce=c4?="), kZhongWen);
  // Charsets beyond the Chinese ones.
  EXPECT_EQ(DecodeEncodedWord("=?KOI8-R?B?8NLJ18XU?="),
            "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
  EXPECT_EQ(DecodeEncodedWord("=?windows-1252?Q?=80?="), "\xE2\x82\xAC");
  EXPECT_EQ(DecodeEncodedWord("=?ISO-2022-JP?B?GyRCJCIbKEI=?="), "\xE3\x81\x82");
}

TEST(DecodeEncodedWord, TextAroundWordsIsKept) {
  EXPECT_EQ(DecodeEncodedWord("Re: =?UTF-8?B?5Lit5paH?="), "Re: " + kZhongWen);
  EXPECT_EQ(DecodeEncodedWord("=?UTF-8?B?5Lit5paH?= (2)"), kZhongWen + " (2)");
  EXPECT_EQ(DecodeEncodedWord("\"=?gb2312?B?1tDOxA==?=\" <a@b.c>"),
            "\"" + kZhongWen + "\" <a@b.c>");
  // Words glued to text are decoded too.
  EXPECT_EQ(DecodeEncodedWord("Fw:=?UTF-8?Q?x?=y"), "Fw:xy");
}

TEST(DecodeEncodedWord, WhitespaceBetweenAdjacentWordsIsDropped) {
  EXPECT_EQ(DecodeEncodedWord("=?UTF-8?Q?ab?= =?UTF-8?Q?cd?="), "abcd");
  EXPECT_EQ(DecodeEncodedWord("=?UTF-8?Q?ab?=\r\n\t=?ISO-8859-1?Q?c=E9?="), "abc\xC3\xA9");
  // Between a word and ordinary text it stays.
  EXPECT_EQ(DecodeEncodedWord("=?UTF-8?Q?ab?= cd =?UTF-8?Q?ef?="), "ab cd ef");
  // Encoded blanks are kept inside, trimmed at the ends.
  EXPECT_EQ(DecodeEncodedWord("=?UTF-8?Q?_a_?= =?UTF-8?Q?_b_?="), "a  b");
}

TEST(DecodeEncodedWord, CharacterSplitAcrossWordsSurvives) {
  // "中" = E4 B8 AD split after its first byte, "文" in GBK split in half.
  EXPECT_EQ(DecodeEncodedWord("=?UTF-8?B?5A==?= =?utf-8?B?uK3mloc=?="), kZhongWen);
  EXPECT_EQ(DecodeEncodedWord("=?GBK?Q?=D6=D0=CE?=\r\n =?GBK?Q?=C4?="), kZhongWen);
  // B and Q words of one charset join as well.
  EXPECT_EQ(DecodeEncodedWord("=?GB2312?B?1tDO?= =?gb2312?Q?=C4?="), kZhongWen);
}

TEST(DecodeEncodedWord, UnknownCharsetAndBrokenWordsStayAsTheyAre) {
  const std::string unknown = "=?X-NO-SUCH-CHARSET?Q?abc?=";
  EXPECT_EQ(DecodeEncodedWord(unknown), unknown);
  const char* broken[] = {
      "=?UTF-8?B?5Lit5p!H?=",  // character outside the alphabet
      "=?UTF-8?B?5Lit5?=",     // impossible length
      "=?UTF-8?B?5L=t?=",      // padding in the middle
      "=?UTF-8?Q?a=G1?=",      // bad escape
      "=?UTF-8?Q?a=?=",        // escape cut short
      "=?UTF-8?X?abc?=",       // unknown encoding
      "=??Q?abc?=",            // no charset
      "=?UTF-8?Q?a b?=",       // blank inside
      "=?UTF-8?Q?abc",         // never closed
      "=?UTF-8?Q",
      "=?",
  };
  for (const char* text : broken) {
    EXPECT_EQ(DecodeEncodedWord(text), text) << text;
  }
  // A broken word does not hide the good ones beside it, and keeps its blanks.
  EXPECT_EQ(DecodeEncodedWord("=?UTF-8?Q?a?= =?UTF-8?Q?b=?= =?UTF-8?Q?c?="), "a =?UTF-8?Q?b=?= c");
}

TEST(DecodeEncodedWord, RawTextBecomesUtf8) {
  // Valid UTF-8 is kept, anything else is read as GB18030.
  EXPECT_EQ(DecodeEncodedWord(kZhongWen + " ok"), kZhongWen + " ok");
  EXPECT_EQ(DecodeEncodedWord(kZhongWenGbk + " =?UTF-8?Q?ok?="), kZhongWen + " ok");
  // Undecodable bytes inside a word become U+FFFD, the result stays valid.
  std::string bad = DecodeEncodedWord("=?UTF-8?Q?a=FFb?=");
  EXPECT_EQ(bad,
            "a\xEF\xBF\xBD"
            "b");
}

TEST(DecodeEncodedWord, DecodingItsOwnResultChangesNothing) {
  const std::string samples[] = {
      "Re: =?UTF-8?B?5Lit5paH?= =?GBK?Q?=D6=D0?= tail",
      "  =?UTF-8?Q?_padded_?=  ",
      kZhongWenGbk + "=?utf-8?q?x?=",
      // A word whose text is itself an encoded word, and one that forms a
      // new word together with the text after it.
      "=?UTF-8?Q?=3D=3FUTF-8=3FQ=3Fx=3F=3D?=",
      "=?UTF-8?Q?=3D?=?UTF-8?Q?x?=",
      "=?UTF-8?B?PT9VVEYtOD9CPzVMaXQ1cGFIPz0=?=",
  };
  for (const auto& text : samples) {
    const std::string once = DecodeEncodedWord(text);
    EXPECT_TRUE(IsValidUtf8(once)) << text;
    EXPECT_EQ(DecodeEncodedWord(once), once) << text;
  }
  // The inner word is shown, not decoded a second time.
  EXPECT_EQ(DecodeEncodedWord("=?UTF-8?Q?=3D=3FUTF-8=3FQ=3Fx=3F=3D?="), "=\xEF\xBC\x9FUTF-8?Q?x?=");
}

TEST(DecodeEncodedWord, LongHostileHeaderStaysCheap) {
  // Many starts that never close; must finish quickly (linear scan).
  std::string hostile;
  for (int i = 0; i < 200000; ++i)
    hostile += "=?a?Q?";
  EXPECT_EQ(DecodeEncodedWord(hostile), hostile);
  std::string words, expected;
  for (int i = 0; i < 20000; ++i) {
    words += "=?UTF-8?Q?ab?= ";
    expected += "ab";
  }
  EXPECT_EQ(DecodeEncodedWord(words), expected);
}

}  // namespace
}  // namespace pelorix
