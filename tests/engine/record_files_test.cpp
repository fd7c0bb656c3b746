#include <gtest/gtest.h>

#include "engine/mail_list.h"
#include "engine/record_files.h"
#include "engine/sink.h"
#include "support/file_faults.h"
#include "test_home.h"
#include "text/ansi.h"

namespace pelorix {
namespace {

using test::ReadAll;
using test::TTempHome;
using test::WriteAll;

TMailRecord Rec(std::string number, std::string verdict = "", std::string deleted = "") {
  TMailRecord r;
  r.Number = std::move(number);
  r.VerdictMark = std::move(verdict);
  r.DeletionMark = std::move(deleted);
  r.Size = "45";
  r.CharSet = "GB2312";
  r.ContentType = "text/plain";
  r.AccountKey = "bob[h]";
  return r;
}

TEST(RecordFiles, AccountOpenEmptiesNewAndSpamAndAppendsToDeleted) {
  TTempHome home;
  WriteAll(NewRecordPath(home.Path(), "bob2h"), std::string(3260 * 2, 'x'));
  WriteAll(SpamRecordPath(home.Path(), "bob2h"), std::string(3260, 'x'));
  // An earlier .del with one record and a partial tail left by a crash.
  auto one = EncodeMailRecord(Rec("1!", "Yes", "Deleted"));
  WriteAll(DeletedRecordPath(home.Path(), "bob2h"), std::string(one.data(), 3260) + "junk");

  TAccountRecordFiles files;
  files.Open(home.Path(), "bob2h");
  EXPECT_TRUE(files.AppendDeleted(EncodeMailRecord(Rec("2!", "Yes", "Deleted"))));
  files.Close();

  EXPECT_EQ(std::filesystem::file_size(NewRecordPath(home.Path(), "bob2h")), 0u);
  EXPECT_EQ(std::filesystem::file_size(SpamRecordPath(home.Path(), "bob2h")), 0u);
  auto del = ReadRecordFile(DeletedRecordPath(home.Path(), "bob2h"));
  ASSERT_TRUE(del);
  ASSERT_EQ(del->size(), 2u);
  EXPECT_EQ((*del)[0].Number, "1!");
  EXPECT_EQ((*del)[1].Number, "2!");
  EXPECT_EQ(std::filesystem::file_size(DeletedRecordPath(home.Path(), "bob2h")), 2 * 3260u);
}

TEST(RecordFiles, AMissingDeletedFolderIsCreatedSoNoDeletedRecordIsLost) {
  TTempHome home;
  std::filesystem::remove_all(home.Tmp() / "deleted");
  TAccountRecordFiles files;
  files.Open(home.Path(), "bob2h");
  EXPECT_TRUE(files.AppendDeleted(EncodeMailRecord(Rec("1!", "Yes", "Deleted"))));
  files.Close();
  auto del = ReadRecordFile(DeletedRecordPath(home.Path(), "bob2h"));
  ASSERT_TRUE(del);
  EXPECT_EQ(del->size(), 1u);
}

TEST(RecordFiles, MissingFileReadsAsNothingAndPartialRecordsAreIgnored) {
  TTempHome home;
  EXPECT_FALSE(ReadRecordFile(home.Tmp() / "none.new"));
  auto one = EncodeMailRecord(Rec("1"));
  WriteAll(home.Tmp() / "a.new", std::string(one.data(), 3260) + std::string(3259, '\0'));
  auto r = ReadRecordFile(home.Tmp() / "a.new");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->size(), 1u);
}

TEST(RecordFiles, AFullDiskLeavesWholeRecordsAndTheFormerListWhole) {
  TTempHome home;
  const auto file = DeletedRecordPath(home.Path(), "bob2h");
  WriteAll(file, std::string(3260 + 100, 'x'));  // a crash's half record behind one
  {
    test::TFileFaultScope fault(FileOp::Write, 2, ENOSPC);
    TRecordFileWriter w;
    ASSERT_TRUE(w.Open(file, TRecordFileWriter::Mode::Append));
    bool all = true;
    for (int i = 0; i < 45; ++i)
      all = w.Append(Rec(std::to_string(i))) && all;
    EXPECT_FALSE(all);
    EXPECT_FALSE(w.Close());
    EXPECT_EQ(w.Error(), ENOSPC);
  }
  // The first twenty went out, the next twenty were refused, the last five
  // followed: never part of a record.
  EXPECT_EQ(std::filesystem::file_size(file), 26 * 3260u);

  TMailList list;
  TMailRow row;
  row.Items[mcSender] = "甲";
  list.Append(row);
  ASSERT_TRUE(list.SaveRecordFile(home.Tmp() / "all.rec"));
  list.Append(row);
  for (const FileOp op : {FileOp::Open, FileOp::Write, FileOp::Rename}) {
    test::TFileFaultScope fault(op, 1, EIO, "all.rec");
    EXPECT_FALSE(list.SaveRecordFile(home.Tmp() / "all.rec"));
  }
  EXPECT_EQ(ReadRecordFile(home.Tmp() / "all.rec")->size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(home.Tmp() / "all.rec.part"));
}

TEST(KeyFileNames, CleanedNamesStayInsideTmpAndFitTheFileSystem) {
  EXPECT_EQ(KeyFileName(" <abc.123-x@h> "), "_abc_123_x@h_");
  EXPECT_EQ(KeyFileName("../../etc/passwd"), "______etc_passwd");
  EXPECT_EQ(KeyFileName("a\tb\x01"
                        "c"),
            "a_b_c");
  EXPECT_EQ(KeyFileName(""), "");
  std::string huge = "<";
  for (int i = 0; i < 400; ++i)
    huge += "信";
  const std::string key = KeyFileName(huge + ">");
  EXPECT_LE(key.size() + 4, 255u);
  EXPECT_TRUE(IsValidUtf8(key));

  TTempHome home;
  // The cut name can really be created, with its extension.
  WriteAll(HeaderFilePath(home.Tmp(), key), "x");
  EXPECT_TRUE(std::filesystem::exists(HeaderFilePath(home.Tmp(), key)));
  EXPECT_EQ(HeaderFilePath(home.Tmp(), key).parent_path(), home.Tmp());
}

TEST(KeyFileNames, MoveToDeletedReplacesAndSkipsFoldersAndEmptyKeys) {
  TTempHome home;
  WriteAll(home.Tmp() / "k.msg", "header");
  WriteAll(home.Tmp() / "k", "body");
  WriteAll(home.Tmp() / "deleted" / "k.msg", "old");
  WriteAll(home.Tmp() / ".msg", "no key");
  MoveMessageFilesToDeleted(home.Path(), "k");
  MoveMessageFilesToDeleted(home.Path(), "");
  // A Message-ID "deleted" names the folder itself: it is never moved.
  MoveMessageFilesToDeleted(home.Path(), "deleted");
  EXPECT_FALSE(std::filesystem::exists(home.Tmp() / "k.msg"));
  EXPECT_FALSE(std::filesystem::exists(home.Tmp() / "k"));
  EXPECT_EQ(ReadAll(home.Tmp() / "deleted" / "k.msg"), "header");
  EXPECT_EQ(ReadAll(home.Tmp() / "deleted" / "k"), "body");
  EXPECT_TRUE(std::filesystem::exists(home.Tmp() / ".msg"));
  EXPECT_TRUE(std::filesystem::is_directory(home.Tmp() / "deleted"));
}

TEST(MailList, RecordsLoadIntoRowsWithTicksFromTheMarks) {
  TTempHome home;
  TMailRecord spam = Rec("1", " Yes ");
  TMailRecord gone = Rec("2!", "Yes", "Deleted");
  gone.Size = "12345!";
  TMailRecord kept = Rec("2");
  kept.CharSet = std::string(30, 'c');
  kept.ContentType = std::string(30, 't');
  ASSERT_TRUE(WriteRecordFile(home.Tmp() / "x.spa", {spam, gone, kept}));

  TMailList list;
  list.Append({});
  EXPECT_FALSE(list.LoadRecordFile(home.Tmp() / "missing", true));
  EXPECT_EQ(list.Count(), 1u);  // a missing file changes nothing
  ASSERT_TRUE(list.LoadRecordFile(home.Tmp() / "x.spa", true));
  auto rows = list.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(rows[0].Checked);
  EXPECT_FALSE(rows[1].Checked);
  EXPECT_FALSE(rows[2].Checked);
  EXPECT_EQ(rows[0].Items[mcSize], "      45");
  EXPECT_EQ(rows[1].Items[mcSize], "  12345!");
  EXPECT_EQ(rows[0].Items[mcCharsetType], "GB2312[text/plain]");
  // charset + "[" fits 31, the whole with "]" 62.
  EXPECT_EQ(rows[2].Items[mcCharsetType], std::string(30, 'c') + "[" + std::string(30, 't') + "]");
  EXPECT_EQ(rows[1].Items[mcDeletionMark], "Deleted");
  EXPECT_EQ(rows[1].Items[mcNumber], "2!");

  // Loading without clearing appends.
  ASSERT_TRUE(list.LoadRecordFile(home.Tmp() / "x.spa", false));
  EXPECT_EQ(list.Count(), 6u);
}

TEST(MailList, MarksAreTrimmedOfControlCharactersToo) {
  // A writer may leave a terminator or other control bytes inside a short
  // field; they are trimmed like blanks before the marks are compared.
  TTempHome home;
  TMailRecordBytes spam = EncodeMailRecord(Rec("1"));
  WriteRecordField(spam, record_field::VerdictMark, std::string("\x0bYes\0", 5));
  TMailRecordBytes gone = EncodeMailRecord(Rec("2!"));
  WriteRecordField(gone, record_field::VerdictMark, "Yes");
  WriteRecordField(gone, record_field::DeletionMark, std::string("Deleted\0\x01", 9));
  TRecordFileWriter w;
  ASSERT_TRUE(w.Open(home.Tmp() / "x.spa", TRecordFileWriter::Mode::Truncate));
  ASSERT_TRUE(w.AppendBytes(spam));
  ASSERT_TRUE(w.AppendBytes(gone));
  w.Close();

  TMailList list;
  ASSERT_TRUE(list.LoadRecordFile(home.Tmp() / "x.spa", true));
  auto rows = list.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows[0].Checked);
  EXPECT_FALSE(rows[1].Checked);
}

TEST(MailList, SaveWritesTicksAsVerdictAndTheShownTypeWhole) {
  TTempHome home;
  TMailList list;
  TMailRow ticked, plain;
  ticked.Items[mcSender] = "甲";
  ticked.Items[mcCharsetType] = "GB2312[text/plain]";
  ticked.Checked = true;
  plain.Items[mcVerdictMark] = "Yes";  // the tick decides, not the shown mark
  list.Append(ticked);
  list.Append(plain);
  ASSERT_TRUE(list.SaveRecordFile(home.Tmp() / "all.rec"));
  const std::string bytes = ReadAll(home.Tmp() / "all.rec");
  ASSERT_EQ(bytes.size(), 2 * 3260u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x03Yes", 4));
  EXPECT_EQ(bytes[3260], '\0');
  // The shown type is split back, so reloading does not add brackets.
  EXPECT_EQ(bytes.substr(3086, 7), "\x06GB2312");
  EXPECT_EQ(bytes.substr(3117, 11), "\x0atext/plain");

  TMailList back;
  ASSERT_TRUE(back.LoadRecordFile(home.Tmp() / "all.rec", true));
  auto rows = back.Rows();
  EXPECT_TRUE(rows[0].Checked);
  EXPECT_EQ(rows[0].Items[mcVerdictMark], "Yes");
  EXPECT_FALSE(rows[1].Checked);
  EXPECT_EQ(rows[1].Items[mcVerdictMark], "");
  EXPECT_EQ(rows[0].Items[mcSender], "甲");
  EXPECT_EQ(rows[0].Items[mcCharsetType], "GB2312[text/plain]");
  EXPECT_EQ(rows[1].Items[mcCharsetType], "[]");
}

TEST(EventLog, EqualLinesAreLoggedOnce) {
  TEventLog log;
  EXPECT_TRUE(log.Add("a"));
  EXPECT_TRUE(log.Add("b"));
  EXPECT_FALSE(log.Add("a"));
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"a", "b"}));
  log.Clear();
  EXPECT_TRUE(log.Add("a"));
}

}  // namespace
}  // namespace pelorix
