#include "store/filter_lists.h"

#include <gtest/gtest.h>

#include "temp_folder.h"

namespace pelorix {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;
using Lines = std::vector<std::string>;

struct FilterTest : ::testing::Test {
  TempFolder home;
  std::unique_ptr<TSettingsStore> store = TSettingsStore::Open(home.path());
};

TEST_F(FilterTest, RegistryFormIsOneEmptyTextValuePerEntry) {
  TFilterLists lists;
  lists.Subject = {"Buy now", " 垃圾 ", "buy NOW", "Offer"};
  lists.Length = {">=2048"};
  ASSERT_TRUE(SaveFilterLists(*store, lists));

  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "rmail_title", false, key));
  auto values = store->EnumValues(key);
  // Names are unique without regard to case: the later spelling collapses.
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[1].name, " 垃圾 ");  // stored exactly as given
  for (const auto& v : values) {
    EXPECT_EQ(v.type, TValueType::Text);
    EXPECT_EQ(v.data, "");
  }
  ASSERT_TRUE(OpenSettingsKey(*store, "RMail_length", false, key));
  EXPECT_EQ(store->EnumValueNames(key), Lines{">=2048"});
  // Empty lists are empty keys.
  for (const char* name : {"RMail_addr", "RMail_MsgID", "RMail_Deliver"}) {
    ASSERT_TRUE(OpenSettingsKey(*store, name, false, key)) << name;
    EXPECT_TRUE(store->EnumValues(key).empty());
  }

  TFilterLists loaded = LoadFilterLists(*store);
  EXPECT_EQ(loaded.Subject, (Lines{"Buy now", "垃圾", "Offer"}));
  EXPECT_EQ(loaded.Length, Lines{">=2048"});
  EXPECT_TRUE(loaded.Sender.empty());

  // A second save replaces the lists whole, in the new order.
  loaded.Subject = {"Offer", "New"};
  ASSERT_TRUE(SaveFilterLists(*store, loaded));
  EXPECT_EQ(LoadFilterLists(*store).Subject, (Lines{"Offer", "New"}));
}

TEST_F(FilterTest, OverlongEntriesAreCutAndLineBreaksFlattened) {
  TFilterLists lists;
  lists.Content = {std::string(300, 'x'), "a\r\nb"};
  // Entries that differ only behind a zero byte (say from a damaged filter
  // file) stay two entries.
  lists.Subject = {std::string("a\0x", 3), std::string("a\0y", 3)};
  ASSERT_TRUE(SaveFilterLists(*store, lists));
  TFilterLists loaded = LoadFilterLists(*store);
  ASSERT_EQ(loaded.Content.size(), 2u);
  EXPECT_EQ(loaded.Content[0], std::string(255, 'x'));
  EXPECT_EQ(loaded.Content[1], "a  b");
  EXPECT_EQ(loaded.Subject, (Lines{"a x", "a y"}));
}

TEST_F(FilterTest, ListFilesAreTrimmedCrLfGb18030) {
  TFilterLists lists;
  lists.Sender = {" spam@example.com ", "垃圾"};
  lists.Recipient = {"me@example.com"};
  ASSERT_TRUE(SaveFilterLists(*store, lists));
  ASSERT_TRUE(WriteListFiles(home.path(), *store));
  const auto tmp = home.path() / "tmp";
  EXPECT_EQ(ReadBytes(tmp / "mrAddr.lst"), "spam@example.com\r\n\xC0\xAC\xBB\xF8\r\n");
  EXPECT_EQ(ReadBytes(tmp / "mrDelive.lst"), "me@example.com\r\n");
  for (const char* name : {"mrTitle.lst", "mrlen.lst", "mrMid.lst"}) {
    ASSERT_TRUE(std::filesystem::exists(tmp / name)) << name;
    EXPECT_EQ(std::filesystem::file_size(tmp / name), 0u) << name;
  }
  TFilterLists read = ReadListFiles(home.path());
  EXPECT_EQ(read.Sender, (Lines{"spam@example.com", "垃圾"}));
  EXPECT_EQ(read.Recipient, Lines{"me@example.com"});
  EXPECT_TRUE(read.Subject.empty());
}

TEST_F(FilterTest, ReadingListFilesTakesAnyLineEnd) {
  const auto tmp = home.path() / "tmp";
  WriteBytes(tmp / "MRTITLE.LST", "a\r\nb\nc\rd");
  WriteBytes(tmp / "mrlen.lst", ">=10\r\n\r\n");
  TFilterLists read = ReadListFiles(home.path());
  EXPECT_EQ(read.Subject, (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(read.Length, (Lines{">=10", ""}));
  EXPECT_TRUE(read.Content.empty());
  EXPECT_EQ(SplitListLines("x\r\n"), Lines{"x"});
  EXPECT_TRUE(SplitListLines("").empty());
}

TEST(LengthRules, AddReplaceTakeOut) {
  Lines rules;
  ASSERT_TRUE(AddLengthRule(rules, 1, " 2048 "));
  ASSERT_TRUE(AddLengthRule(rules, 0, "10"));
  ASSERT_TRUE(AddLengthRule(rules, 1, "2048"));
  EXPECT_EQ(rules, (Lines{"==10", ">=2048"}));  // once, at the end
  EXPECT_FALSE(AddLengthRule(rules, 2, "  "));
  std::string error;
  EXPECT_FALSE(AddLengthRule(rules, -1, "5", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(AddLengthRule(rules, 0, "5k"));
  EXPECT_FALSE(AddLengthRuleText(rules, "2048"));
  EXPECT_FALSE(AddLengthRuleText(rules, "=>5"));
  EXPECT_TRUE(AddLengthRuleText(rules, " <=100 "));
  EXPECT_EQ(rules.back(), "<=100");

  TLengthRuleParts parts = TakeOutLengthRule(rules, 1);
  EXPECT_EQ(parts.operatorIndex, 1);
  EXPECT_EQ(parts.number, "2048");
  EXPECT_EQ(rules, (Lines{"==10", "<=100"}));
  EXPECT_EQ(SplitLengthRule("5").operatorIndex, -1);
}

TEST(FilterFile, ExportWritesSectionsInOrder) {
  TempFolder dir;
  TFilterLists lists;
  lists.Subject = {"Buy"};
  lists.Length = {">=2048"};
  lists.Content = {"<a href=x>"};
  lists.Sender = {"垃圾@x"};
  ASSERT_TRUE(ExportFilterFile(dir.path() / "rules", lists));
  EXPECT_EQ(ReadBytes(dir.path() / "rules.rub"),
            "[Title]\r\nBuy=\r\n[length]\r\n>=2048=\r\n[Deliver]\r\n[Mid]\r\n<a href=x>=\r\n"
            "[Mail]\r\n\xC0\xAC\xBB\xF8@x=\r\n");
}

TEST(FilterFile, EntriesWithEqualsSignsSurviveTheRoundTrip) {
  TempFolder dir;
  TFilterLists lists;
  lists.Subject = {"a=b", "[not a section]", ";not a comment"};
  lists.Length = {"==512", ">=2048"};
  lists.Content = {"<font size=2 color=red>", "x==y"};
  lists.Recipient = {"list@example.com"};
  lists.Sender = {"spam@example.com"};
  const auto file = dir.path() / "all.rub";
  ASSERT_TRUE(ExportFilterFile(file, lists));

  TFilterLists imported;
  TFilterImportResult result;
  ASSERT_TRUE(ImportFilterFile(file, imported, &result));
  EXPECT_EQ(imported.Subject, lists.Subject);
  EXPECT_EQ(imported.Length, lists.Length);
  EXPECT_EQ(imported.Content, lists.Content);
  EXPECT_EQ(imported.Recipient, lists.Recipient);
  EXPECT_EQ(imported.Sender, lists.Sender);
  EXPECT_EQ(result.added, 9);

  // Importing again adds nothing; entries already there stay.
  ASSERT_TRUE(ImportFilterFile(file, imported, &result));
  EXPECT_EQ(result.added, 0);
  EXPECT_EQ(imported.Subject, lists.Subject);
  EXPECT_EQ(imported.Length, lists.Length);
}

TEST(FilterFile, ExportOntoAnExistingFileKeepsWhatItHad) {
  TempFolder dir;
  const auto file = dir.path() / "old.rub";
  WriteBytes(file,
             "; my rules\r\n[Other]\r\nkeep=1\r\n\r\n[title]\r\nOLD=\r\nbuy=x\r\n\r\n"
             "[Mail]\r\nfirst@x=\r\n");
  TFilterLists lists;
  lists.Subject = {"Buy", "New"};
  lists.Sender = {"second@x"};
  ASSERT_TRUE(ExportFilterFile(file, lists));
  EXPECT_EQ(ReadBytes(file),
            "; my rules\r\n[Other]\r\nkeep=1\r\n\r\n[title]\r\nOLD=\r\nBuy=\r\nNew=\r\n\r\n"
            "[Mail]\r\nfirst@x=\r\nsecond@x=\r\n[length]\r\n[Deliver]\r\n[Mid]\r\n");

  TFilterLists imported;
  ASSERT_TRUE(ImportFilterFile(file, imported));
  EXPECT_EQ(imported.Subject, (Lines{"OLD", "Buy", "New"}));
  EXPECT_EQ(imported.Sender, (Lines{"first@x", "second@x"}));
}

TEST(FilterFile, ChineseWhoseGb18030FormIsValidUtf8SurvivesTheRoundTrip) {
  // "赚钱" is D7 AC C7 AE on disk: also valid UTF-8, for two other letters.
  TempFolder dir;
  const auto file = dir.path() / "money.rub";
  TFilterLists lists;
  lists.Subject = {"赚钱", "free"};
  ASSERT_TRUE(ExportFilterFile(file, lists));
  ASSERT_EQ(ReadBytes(file),
            "[Title]\r\n\xD7\xAC\xC7\xAE=\r\nfree=\r\n[length]\r\n[Deliver]\r\n"
            "[Mid]\r\n[Mail]\r\n");
  TFilterLists imported;
  ASSERT_TRUE(ImportFilterFile(file, imported));
  EXPECT_EQ(imported.Subject, lists.Subject);
}

TEST(FilterFile, HandWrittenUtf8FilesAreReadAsUtf8) {
  TempFolder dir;
  const auto plain = dir.path() / "plain.rub";
  WriteBytes(plain, "[Title]\n赚钱=\n发票=\n");
  TFilterLists lists;
  ASSERT_TRUE(ImportFilterFile(plain, lists));
  EXPECT_EQ(lists.Subject, (Lines{"赚钱", "发票"}));

  // A byte order mark in front of the first section does not hide it.
  const auto marked = dir.path() / "marked.rub";
  WriteBytes(marked, "\xEF\xBB\xBF[Mail]\nspam@x=\n");
  ASSERT_TRUE(ImportFilterFile(marked, lists));
  EXPECT_EQ(lists.Sender, Lines{"spam@x"});
  TFilterLists more;
  more.Sender = {"more@x"};
  ASSERT_TRUE(ExportFilterFile(marked, more));
  EXPECT_EQ(ReadBytes(marked).substr(0, 8), "[Mail]\r\n");
}

TEST(FilterFile, ImportTakesPresentSectionsAndSkipsBadRules) {
  TempFolder dir;
  const auto file = dir.path() / "part.rub";
  WriteBytes(file, "[LENGTH]\n==100=\n2048=\n>=abc=\n<=5=\n[Deliver]\nfriend@x=\nFRIEND@X=\n");
  TFilterLists lists;
  lists.Subject = {"kept"};
  lists.Length = {"==100"};
  TFilterImportResult result;
  ASSERT_TRUE(ImportFilterFile(file, lists, &result));
  EXPECT_EQ(lists.Subject, Lines{"kept"});
  EXPECT_EQ(lists.Length, (Lines{"==100", "<=5"}));
  EXPECT_EQ(lists.Recipient, Lines{"friend@x"});
  EXPECT_EQ(result.skipped, 2);
  std::string error;
  EXPECT_FALSE(ImportFilterFile(dir.path() / "missing.rub", lists, nullptr, &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace pelorix
