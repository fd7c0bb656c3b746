#include "text/textutil.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "pelorix_version.h"

namespace pelorix {
namespace {

TEST(HexValue, ReadsDigitsInAnyCase) {
  EXPECT_EQ(HexValue(""), 0);
  EXPECT_EQ(HexValue("  "), 0);
  EXPECT_EQ(HexValue(" 1f "), 31);
  EXPECT_EQ(HexValue("FF"), 255);
  EXPECT_EQ(HexValue("00a0"), 160);
  // Reading stops at a foreign character; a huge value saturates.
  EXPECT_EQ(HexValue("1G2"), 1);
  EXPECT_EQ(HexValue("FFFFFFFFFFFFFFFFFFFF"), LLONG_MAX);
}

TEST(FindListEntry, ListOrderDecidesAndCaseIsIgnored) {
  EXPECT_EQ(FindListEntry({"sale", "free"}, "FREE SALE"), "sale");
  EXPECT_EQ(FindListEntry({"free", "sale"}, "FREE SALE"), "free");
  EXPECT_EQ(FindListEntry({"", "Free"}, "  totally free  "), "Free");
  EXPECT_EQ(FindListEntry({"", "x"}, "abc"), "");
  EXPECT_EQ(FindListEntry({}, "abc"), "");
  // Entries are not trimmed, the text is.
  EXPECT_EQ(FindListEntry({" a"}, " a"), "");
  EXPECT_EQ(FindListEntry({"b c"}, "ab cd"), "b c");
  // Only ASCII letters fold; Chinese entries match byte for byte.
  EXPECT_EQ(FindListEntry({"\xE5\x8F\x91\xE7\xA5\xA8"},
                          "\xE4\xBB\xA3\xE5\xBC\x80\xE5\x8F\x91\xE7\xA5\xA8"),
            "\xE5\x8F\x91\xE7\xA5\xA8");
}

TEST(NormalizeIp, FixedForm) {
  EXPECT_EQ(NormalizeIp("10.0.0.1"), "010.000.000.001");
  EXPECT_EQ(NormalizeIp(" 202.96.1.7 "), "202.096.001.007");
  EXPECT_EQ(NormalizeIp("0010.1. 2 .3"), "010.001.002.003");
  EXPECT_EQ(NormalizeIp("..."), "000.000.000.000");
  EXPECT_EQ(NormalizeIp("1.2.3"), "001.002.003.000");
  // Parts above 999 keep all their digits.
  EXPECT_EQ(NormalizeIp("1234.1.1.2147483647"), "1234.001.001.2147483647");
}

TEST(NormalizeIp, PartsThatAreNoNumbersThrow) {
  EXPECT_THROW(NormalizeIp("1.2.3.2147483648"), std::out_of_range);
  EXPECT_THROW(NormalizeIp("99999999999999999999999.1.1.1"), std::out_of_range);
  EXPECT_THROW(NormalizeIp("1.2.x.4"), std::invalid_argument);
  EXPECT_THROW(NormalizeIp("1.2.3.4.5"), std::invalid_argument);
}

TEST(ExtractIpAddresses, FindsDottedQuadsInOrder) {
  EXPECT_EQ(ExtractIpAddresses("from [61.129.1.7] by mx 10.0.0.1;"),
            "061.129.001.007|010.000.000.001");
  EXPECT_EQ(ExtractIpAddresses("by smtp.example.com with ESMTP id 1.2"), "");
  // Duplicates stay, tokens with other dot counts are no addresses.
  EXPECT_EQ(ExtractIpAddresses("1.1.1.1 (1.1.1.1) 8.12.11 1.2.3.4.5"),
            "001.001.001.001|001.001.001.001");
  EXPECT_EQ(ExtractIpAddresses(""), "");
}

TEST(ExtractIpAddresses, SkipsTokensTooLargeForANumber) {
  // One crafted token must not stop the rest of the line.
  EXPECT_EQ(ExtractIpAddresses("from [1.2.3.99999999999] ([61.129.1.7])"), "061.129.001.007");
  EXPECT_EQ(ExtractIpAddresses("4294967296.0.0.1"), "");
}

TEST(FileNames, CleanAndStrip) {
  EXPECT_EQ(CleanFileName("<abc.123-x>"), "_abc_123_x_");
  EXPECT_EQ(CleanFileName(" a\\b/c:d*e?f\"g|h%i=j "), "a_b_c_d_e_f_g_h_i=j");
  EXPECT_EQ(StripNameChars(" Re: a=b <c_d> 50% "), "Re ab cd 50");
  EXPECT_EQ(StripNameChars("\xE4\xB8\xAD.txt"), "\xE4\xB8\xAD.txt");
}

TEST(Padding, BlanksPadsAndRepeats) {
  EXPECT_EQ(BlanksToZeros(" 10.  1"), "010.001");
  EXPECT_EQ(PadLeft(" 123 ", 8), "     123");
  EXPECT_EQ(PadLeft("123456789", 8), "123456789");
  EXPECT_EQ(PadLeft("", 3), "   ");
  // A Chinese character takes two columns, as in the files.
  EXPECT_EQ(PadLeft("\xE4\xB8\xAD", 4), "  \xE4\xB8\xAD");
  EXPECT_EQ(ZeroPad(7, 3), "007");
  EXPECT_EQ(ZeroPad(1234, 3), "1234");
  EXPECT_EQ(ZeroPad(0, 0), "0");
  EXPECT_EQ(ZeroPad(-5, 4), "-005");
  EXPECT_EQ(RepeatText("ab", 3), "ababab");
  EXPECT_EQ(RepeatText("ab", 0), "");
  EXPECT_EQ(RepeatText("", 5), "");
}

TEST(DateText, ChineseLocalDate) {
  // Local time of the test run: pin the zone so the date is known.
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(DateText(1796688000),
            "2026\xE5\xB9\xB4"
            "12\xE6\x9C\x88"
            "08\xE6\x97\xA5");
  EXPECT_EQ(DateText(0),
            "1970\xE5\xB9\xB4"
            "01\xE6\x9C\x88"
            "01\xE6\x97\xA5");
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST(FileVersionText, FourNumbersOfTheProgramVersion) {
  const std::string text = FileVersionText();
  EXPECT_EQ(std::count(text.begin(), text.end(), '.'), 3);
  EXPECT_EQ(text.rfind(PELORIX_VERSION, 0), 0u);
}

TEST(FolderExists, OnlyFolders) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("pelorix_folder_exists_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  EXPECT_FALSE(FolderExists(dir));
  fs::create_directories(dir / "sub");
  EXPECT_TRUE(FolderExists(dir / "sub"));
  std::ofstream(dir / "file") << "x";
  EXPECT_FALSE(FolderExists(dir / "file"));
  EXPECT_FALSE(FolderExists(""));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace pelorix
