#include "engine/quarantine.h"
#include "store/file_fault.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "engine/record_files.h"
#include "support/file_faults.h"
#include "test_home.h"

namespace pelorix {
namespace {
namespace fs = std::filesystem;
using test::ReadAll;
using test::TTempHome;

const std::string kMessage =
    "Message-ID: <a.1@example.com>\r\nFrom: Ann <ann@example.com>\r\nSubject: hello\r\n\r\n"
    "From here on\r\n>From quoted\r\nbody\r\n";

int FilesIn(const fs::path& folder) {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(folder))
    ++n;
  return n;
}

TEST(Quarantine, CopiesAreExactAndNeverTakeAnotherMessagesName) {
  TTempHome home;
  const fs::path first = QuarantineMessage(home.Path(), "<a.1@example.com>", kMessage);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first.filename().string(), "_a_1@example_com_.eml");
  EXPECT_EQ(ReadAll(first), kMessage);
  // The same bytes again keep their file; other bytes under the same key
  // get one of their own.
  EXPECT_EQ(QuarantineMessage(home.Path(), "<a.1@example.com>", kMessage), first);
  const fs::path other = QuarantineMessage(home.Path(), "<a.1@example.com>", kMessage + "x");
  EXPECT_NE(other, first);
  EXPECT_EQ(ReadAll(other), kMessage + "x");
  EXPECT_EQ(ReadAll(first), kMessage);
  // Messages without a key never share a file, even with equal bytes.
  const fs::path a = QuarantineMessage(home.Path(), "", "A\r\n");
  const fs::path b = QuarantineMessage(home.Path(), "  ", "A\r\n");
  EXPECT_NE(a, b);
  EXPECT_EQ(ReadAll(b), "A\r\n");
  // No temporary file stays behind.
  EXPECT_EQ(FilesIn(DeletedFolder(home.Path())), 4);
}

TEST(Quarantine, AFailedCopyReportsWhyAndLeavesNothing) {
  TTempHome home;
  // A plain file where the folder should be: nothing can be created there.
  fs::remove_all(DeletedFolder(home.Path()));
  test::WriteAll(DeletedFolder(home.Path()), "not a folder");
  std::string error;
  EXPECT_TRUE(QuarantineMessage(home.Path(), "<k@x>", kMessage, &error).empty());
  EXPECT_FALSE(error.empty());
}

TEST(Quarantine, AGroupOfCopiesLosesOnlyWhatTheDiskRefused) {
  TTempHome home;
  const std::vector<std::string> keys = {"<g1@x>", "<g2@x>", "<g3@x>"};
  auto group = [&] {
    TCopyBatch batch(home.Path());
    for (const auto& key : keys)
      EXPECT_TRUE(batch.Add(key, "Message-ID: " + key + "\r\n\r\nbody\r\n"));
    return batch.Commit();
  };
  {
    // The group's one sync fails: each copy is synced alone instead.
    test::TFileFaultScope fault(FileOp::Sync, 1, EIO);
    EXPECT_EQ(group(), std::vector<std::string>(3));
    EXPECT_EQ(fault.Calls(), 5);  // the group, three copies, the folder
  }
  EXPECT_EQ(ReadAll(DeletedFolder(home.Path()) / "_g2@x_.eml"),
            "Message-ID: <g2@x>\r\n\r\nbody\r\n");
  fs::remove_all(DeletedFolder(home.Path()));
  {
    // A name that cannot be given costs that copy only.
    test::TFileFaultScope fault(FileOp::Rename, 2, ENOSPC);
    const auto why = group();
    EXPECT_TRUE(why[0].empty() && why[2].empty());
    EXPECT_NE(why[1].find("No space"), std::string::npos);
  }
  EXPECT_EQ(FilesIn(DeletedFolder(home.Path())), 2);
  {
    // Without a durable folder no copy of the group counts.
    test::TFileFaultScope fault(FileOp::Sync, 2, EIO, "deleted");
    TCopyBatch batch(home.Path());
    ASSERT_TRUE(batch.Add("<g4@x>", "4"));
    ASSERT_TRUE(batch.Add("<g5@x>", "5"));
    for (const auto& why : batch.Commit())
      EXPECT_NE(why.find("cannot sync"), std::string::npos);
  }
  {
    // A copy the disk refuses leaves nothing behind.
    test::TFileFaultScope fault(FileOp::Write, 1, ENOSPC);
    TCopyBatch batch(home.Path());
    EXPECT_FALSE(batch.Add("<g6@x>", "6"));
  }
  for (const auto& entry : fs::directory_iterator(DeletedFolder(home.Path())))
    EXPECT_EQ(entry.path().extension(), ".eml");
}

TEST(Quarantine, APurgeRemovesEveryCopyOfTheMessageAndNoOther) {
  TTempHome home;
  EXPECT_EQ(MessageIdOf(kMessage), "<a.1@example.com>");
  EXPECT_EQ(MessageIdOf("Subject: none\r\n\r\nMessage-ID: <body@x>\r\n"), "");
  const fs::path first = QuarantineMessage(home.Path(), "<a.1@example.com>", kMessage);
  // A different message whose file name is the first one's with "_1".
  const std::string near = "Message-ID: <a.1@example.com>_1\r\n\r\nnear\r\n";
  const fs::path other = QuarantineMessage(home.Path(), "<a.1@example.com>_1", near);
  const fs::path second = QuarantineMessage(home.Path(), "<a.1@example.com>", kMessage + "x");
  ASSERT_EQ(second.filename().string(), "_a_1@example_com__2.eml");
  const fs::path longer = QuarantineMessage(home.Path(), "<a.1@example.com>x", "x\r\n");
  EXPECT_EQ(RemoveKeptCopies(home.Path(), "<a.1@example.com>"), 2);
  EXPECT_FALSE(fs::exists(first) || fs::exists(second));
  EXPECT_TRUE(fs::exists(other) && fs::exists(longer));
}

TEST(Quarantine, TheCopiesOfAKeyAreFoundWithoutAnotherMessagesWhateverTheirNames) {
  TTempHome home;
  const std::string key = "<a.1@example.com>";
  const fs::path first = QuarantineMessage(home.Path(), key, kMessage);
  // The key's second copy takes K_1.eml before the message whose key is K_1.
  const fs::path second = QuarantineMessage(home.Path(), key, kMessage + "x");
  const std::string near = "Message-ID: <a.1@example.com>_1\r\n\r\nnear\r\n";
  const fs::path other = QuarantineMessage(home.Path(), MessageIdOf(near), near);
  EXPECT_EQ(KeptCopies(home.Path(), key), (std::vector<fs::path>{first, second}));
  EXPECT_EQ(KeptCopies(home.Path(), MessageIdOf(near)), std::vector<fs::path>{other});
  EXPECT_EQ(RemoveKeptCopies(home.Path(), MessageIdOf(near)), 1);
  EXPECT_TRUE(fs::exists(second));

  // A key longer than a file name may be is kept under its cut name: found
  // there, and not taken for a key that is the cut name itself.
  const std::string longKey = "<" + std::string(300, 'k') + "@x>";
  const fs::path longCopy =
      QuarantineMessage(home.Path(), longKey, "Message-ID: " + longKey + "\r\n\r\nlong\r\n");
  EXPECT_EQ(KeptCopies(home.Path(), longKey), std::vector<fs::path>{longCopy});
  EXPECT_TRUE(KeptCopies(home.Path(), longCopy.stem().string()).empty());
}

TEST(Quarantine, ACopyNeverReplacesOneMadeMeanwhileUnderTheSameName) {
  // Two workers chose the same free name for different messages of one key;
  // the later copy must not replace the earlier one.
  TTempHome home;
  const fs::path chosen = ChooseQuarantinePath(home.Path(), "<k@x>", kMessage);
  EXPECT_EQ(ChooseQuarantinePath(home.Path(), "<k@x>", kMessage + "x"), chosen);
  ASSERT_EQ(QuarantineMessage(home.Path(), "<k@x>", kMessage), chosen);
  const fs::path later = chosen.parent_path() / "later.part";
  test::WriteAll(later, kMessage + "x");
  EXPECT_FALSE(RenameNoReplace(later, chosen));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(ReadAll(chosen), kMessage);
  fs::remove(later);

  // Workers keeping different messages with one Message-ID at once: each
  // copy gets a file of its own.
  std::vector<std::string> messages;
  std::vector<fs::path> kept(8);
  for (int i = 0; i < 8; ++i)
    messages.push_back(kMessage + std::string(static_cast<std::size_t>(i), '.'));
  {
    std::vector<std::jthread> workers;
    for (int i = 0; i < 8; ++i)
      workers.emplace_back(
          [&, i] { kept[i] = QuarantineMessage(home.Path(), "<same@x>", messages[i]); });
  }
  for (int i = 0; i < 8; ++i) {
    ASSERT_FALSE(kept[i].empty());
    EXPECT_EQ(ReadAll(kept[i]), messages[i]);
  }
  EXPECT_EQ(FilesIn(DeletedFolder(home.Path())), 9);
}

TEST(Quarantine, ExpiryRemovesOnlyOldCopies) {
  TTempHome home;
  const fs::path old = QuarantineMessage(home.Path(), "<old@x>", "old\r\n");
  const fs::path fresh = QuarantineMessage(home.Path(), "<new@x>", "new\r\n");
  const fs::path record = DeletedRecordPath(home.Path(), "u2h");
  test::WriteAll(record, "");
  const auto now = std::chrono::file_clock::now();
  fs::last_write_time(old, now - std::chrono::hours(24 * 31));
  fs::last_write_time(record, now - std::chrono::hours(24 * 90));
  const std::time_t t = std::time(nullptr);
  EXPECT_EQ(ExpireQuarantine(home.Path(), 0, t), 0);
  EXPECT_EQ(ExpireQuarantine(home.Path(), 30, t), 1);
  EXPECT_FALSE(fs::exists(old));
  EXPECT_TRUE(fs::exists(fresh));
  EXPECT_TRUE(fs::exists(record));  // records of deleted mail are not copies
}

TEST(Quarantine, ListingNamesTheAccountFromTheDeletedRecordsNewestFirst) {
  TTempHome home;
  const fs::path older = QuarantineMessage(home.Path(), "<a.1@example.com>", kMessage);
  fs::last_write_time(older, std::chrono::file_clock::now() - std::chrono::hours(2));
  QuarantineMessage(home.Path(), "",
                    "From: =?UTF-8?B?5byg5LiJ?= <z@example.com>\r\nSubject: =?UTF-8?B?5L2g5aW9?="
                    "\r\n\r\nx\r\n");
  TMailRecord record;
  record.AccountKey = "ann[pop.example.com]";
  record.MessageKey = "<a.1@example.com>";
  ASSERT_TRUE(WriteRecordFile(DeletedRecordPath(home.Path(), "ann2pop.example.com"), {record}));

  const auto entries = ListQuarantine(home.Path());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Subject, "你好");
  EXPECT_EQ(entries[0].Sender, "\"张三\" <z@example.com>");
  EXPECT_EQ(entries[0].AccountKey, "");
  EXPECT_EQ(entries[1].AccountKey, "ann[pop.example.com]");
  EXPECT_EQ(entries[1].MessageKey, "<a.1@example.com>");
  EXPECT_EQ(entries[1].Size, static_cast<long long>(kMessage.size()));
}

TEST(Mbox, FromLinesAreQuotedOneLevelDeeperAndLineEndsBecomeLf) {
  std::string mbox;
  AppendMboxrd(mbox, kMessage, "ann@example.com", 0);
  AppendMboxrd(mbox, "Subject: two\n\n>>From x\nFromage\nlast", "", 86400);
  EXPECT_EQ(mbox,
            "From ann@example.com Thu Jan  1 00:00:00 1970\n"
            "Message-ID: <a.1@example.com>\nFrom: Ann <ann@example.com>\nSubject: hello\n\n"
            ">From here on\n>>From quoted\nbody\n\n"
            "From MAILER-DAEMON Fri Jan  2 00:00:00 1970\n"
            "Subject: two\n\n>>>From x\nFromage\nlast\n\n");
}

}  // namespace
}  // namespace pelorix
