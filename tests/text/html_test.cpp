#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "text/ansi.h"
#include "text/textutil.h"

namespace pelorix {
namespace {

namespace fs = std::filesystem;

std::string Convert(std::string line, bool& inBlock) {
  HtmlLineToText(line, inBlock);
  return line;
}

std::string Convert(std::string line) {
  bool inBlock = false;
  return Convert(std::move(line), inBlock);
}

TEST(HtmlLineToText, ParagraphAndBreakTagsBecomeLineBreaks) {
  EXPECT_EQ(Convert("<P>Hello<BR>World"), "\r\nHello\r\nWorld");
  EXPECT_EQ(Convert("a<p>b<br>c"), "a\r\nb\r\nc");
  // With attributes they are ordinary tags.
  EXPECT_EQ(Convert("a<p class=x>b<br/>c"), "abc");
}

TEST(HtmlLineToText, TagsAndEntities) {
  EXPECT_EQ(Convert("a <b>bold</b> c&nbsp;d"), "a bold c d");
  EXPECT_EQ(Convert("x&NBSP;y&nbspz"), "x y z");
  // "&gt", "&lt;" and "&quot" are deleted, other entities stay.
  EXPECT_EQ(Convert("1&gt;2 &lt;3 &quot;q&quot; &amp;"), "1;2 3 ;q; &amp;");
  // The tail of a tag opened on an earlier line.
  EXPECT_EQ(Convert("href=\"x\">link text"), "link text");
  // A ">" before the first "<" drops everything before it.
  EXPECT_EQ(Convert("junk> keep <i>it</i>"), " keep it");
  // An unclosed tag runs to the end of the line.
  EXPECT_EQ(Convert("text <a href="), "text ");
  // After the tags only the first stray ">" cuts.
  EXPECT_EQ(Convert("<b>a</b>x>y>z"), "y>z");
  // UTF-8 passes through.
  EXPECT_EQ(Convert("<td>\xE4\xB8\xAD\xE6\x96\x87</td>"), "\xE4\xB8\xAD\xE6\x96\x87");
}

TEST(HtmlLineToText, StyleAndScriptBlocksOnOneLine) {
  EXPECT_EQ(Convert("a<style>p{}</style>b<SCRIPT type=x>go()</script>c"), "abc");
  EXPECT_EQ(Convert("a<style>1</style>b<style>2</style>c"), "abc");
  // A "</style>" before the first "<style" ends the block step at once.
  bool inBlock = false;
  EXPECT_EQ(Convert("x</style>y<style>", inBlock), "xy");
  EXPECT_FALSE(inBlock);
  // A "<style" formed by the join of two sides of a deleted block counts.
  EXPECT_EQ(Convert("a<sty<style></style>le>x</style>b"), "ab");
}

TEST(HtmlLineToText, BlocksAcrossLines) {
  bool inBlock = false;
  EXPECT_EQ(Convert("<style>", inBlock), "");
  EXPECT_TRUE(inBlock);
  EXPECT_EQ(Convert("p { color: red }", inBlock), "");
  EXPECT_TRUE(inBlock);
  EXPECT_EQ(Convert("</style>Text", inBlock), "Text");
  EXPECT_FALSE(inBlock);

  // The line that opens an unclosed block yields nothing, not even the text
  // before it.
  inBlock = false;
  EXPECT_EQ(Convert("before<script>var a", inBlock), "");
  EXPECT_TRUE(inBlock);
  EXPECT_EQ(Convert("b = 1;</SCRIPT>after <b>x</b>", inBlock), "after x");
  EXPECT_FALSE(inBlock);
}

class HtmlFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("pelorix_html_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static void Write(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
  }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
};

TEST_F(HtmlFile, WritesTextBesideTheSourceInGb18030) {
  // "中文" in GBK, LF and CR LF line ends mixed.
  Write(dir_ / "mail",
        "\n\n<html><body>\r\n<style>\np{}\n</style>Text\r\n\n\n<b>\xD6\xD0\xCE\xC4</b>\n");
  HtmlFileToText(dir_ / "mail", false);
  ASSERT_TRUE(fs::exists(dir_ / "mail.txt"));
  // Leading empty lines vanish, runs of empty lines shrink to one.
  EXPECT_EQ(Read(dir_ / "mail.txt"), "Text\r\n\r\n\xD6\xD0\xCE\xC4\r\n");
  EXPECT_TRUE(fs::exists(dir_ / "mail"));  // the source stays
}

TEST_F(HtmlFile, StyleBlockAcrossThreeLinesGivesOneLine) {
  Write(dir_ / "a.htm", "<style>\r\nbody { margin: 0 }\r\n</style>Text\r\n");
  HtmlFileToText(dir_ / "a.htm", false);
  EXPECT_EQ(Read(dir_ / "a.txt"), "Text\r\n");
}

TEST_F(HtmlFile, WebPagesOnlyConvertsPagesAndDeletesThem) {
  Write(dir_ / "page.HTML", "<p>hi");
  Write(dir_ / "note.doc", "<p>hi");
  HtmlFileToText(dir_ / "page.HTML", true);
  HtmlFileToText(dir_ / "note.doc", true);
  EXPECT_EQ(Read(dir_ / "page.txt"), "\r\nhi\r\n");
  EXPECT_FALSE(fs::exists(dir_ / "page.HTML"));
  EXPECT_TRUE(fs::exists(dir_ / "note.doc"));
  EXPECT_FALSE(fs::exists(dir_ / "note.txt"));
}

TEST_F(HtmlFile, ReplacesOldTargetAndKeepsATextSource) {
  Write(dir_ / "m.txt", "old");
  Write(dir_ / "m.php", "new<br>");
  HtmlFileToText(dir_ / "m.php", false);
  EXPECT_EQ(Read(dir_ / "m.txt"), "new\r\n\r\n");
  // A ".txt" source is its own target: it is read whole before writing.
  Write(dir_ / "t.txt", "<i>kept</i>\n");
  HtmlFileToText(dir_ / "t.txt", false);
  EXPECT_EQ(Read(dir_ / "t.txt"), "kept\r\n");
}

TEST_F(HtmlFile, MissingSourceOrFolderWritesNothing) {
  HtmlFileToText(dir_ / "absent", false);
  EXPECT_FALSE(fs::exists(dir_ / "absent.txt"));
  fs::create_directory(dir_ / "folder.htm");
  HtmlFileToText(dir_ / "folder.htm", true);
  EXPECT_FALSE(fs::exists(dir_ / "folder.txt"));
  EXPECT_TRUE(fs::exists(dir_ / "folder.htm"));
  // An empty source gives an empty target.
  Write(dir_ / "empty", "");
  HtmlFileToText(dir_ / "empty", false);
  EXPECT_EQ(Read(dir_ / "empty.txt"), "");
}

}  // namespace
}  // namespace pelorix
