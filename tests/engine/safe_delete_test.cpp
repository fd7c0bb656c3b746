// Every deletion on the server is preceded by a whole copy on disk: the
// deletion run, the spam deletion during a check and the flood clean.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/check_worker.h"
#include "engine/delete_worker.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "recording_sink.h"
#include "support/dovecot.h"
#include "support/fake_server.h"
#include "support/file_faults.h"
#include "test_home.h"

namespace pelorix {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::SizeIs;

std::string Mail(const std::string& from, const std::string& id, const std::string& body) {
  return "From: " + from + "\nTo: bob@example.org\nSubject: about " + id + "\nMessage-ID: " + id +
         "\n\n" + body + "\n";
}

std::string Crlf(const std::string& text) {
  std::string out;
  for (const char c : text)
    out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

std::string Copy(const test::TTempHome& home, const std::string& id) {
  return test::ReadAll(DeletedFolder(home.Path()) / (KeyFileName(id) + ".eml"));
}

bool Sent(const test::TPop3Mailbox& server, const std::string& command) {
  const auto commands = server.Commands();
  return std::find(commands.begin(), commands.end(), command) != commands.end();
}

// QUIT's answer is not awaited: the server may still be committing the
// deletions when the worker returns.
std::size_t Settled(const test::TPop3Mailbox& server, std::size_t expected) {
  for (int i = 0; i < 50 && server.Messages("bob").size() != expected; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return server.Messages("bob").size();
}

// Stops whichever worker it is given when a status text is shown.
class TStoppingSink : public test::TRecordingSink {
 public:
  void StatusRefresh(const TStatusTexts& texts) override {
    test::TRecordingSink::StatusRefresh(texts);
    if (texts.State == StopAt && Stop)
      Stop();
  }
  std::function<void()> Stop;
  std::string StopAt;
};

struct TSafeDeleteFixture : ::testing::Test {
  test::TTempHome home;
  TRunState state{home.Path()};
  TStoppingSink sink;
  TMailPlan plan;

  TSafeDeleteFixture() {
    plan.CheckSummary = true;
    plan.Quarantine = true;
    state.ReadTimeoutMs = 5000;
  }
  void Row(const std::string& account, const std::string& id, bool ticked) {
    TMailRecord r;
    r.VerdictMark = ticked ? "Yes" : "";
    r.AccountKey = account;
    r.MessageKey = id;
    r.Size = "100";
    state.MailList.Append(RowFromRecord(r));
  }
  void Delete(const std::string& entry) {
    TDeletionTally tally;
    state.SetPlan(plan);
    state.DeleteQueue = TAccountQueue{entry};
    state.RunningWorkers = 1;
    Tdeletemail1(state, sink, tally).Execute();
  }
  void Check(const std::string& entry) {
    state.SetPlan(plan);
    state.CheckQueue = TAccountQueue{entry};
    state.AccountCount = 1;
    state.RunningWorkers = 1;
    TCheckmail1 worker(state, sink);
    sink.Stop = [&worker] { worker.Terminate(); };
    worker.Execute();
    sink.Stop = nullptr;
  }
};

TEST_F(TSafeDeleteFixture, TheDeletionRunKeepsEachTickedMessageByteForByteBeforeItGoes) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  const std::string wide(300 * 1024, 'w');
  const std::vector<std::string> mails = {
      Mail("a@example.org", "<m1@x>", ".hidden\n..two dots\n" + wide + "\n.\nend"),
      Mail("b@example.org", "<m2@x>", "plain"), Mail("c@example.org", "<m3@x>", "kept")};
  test::TDovecotServer dovecot;
  dovecot.AddUser("bob", "pw", mails);
  dovecot.Start();
  const std::string account = "bob[" + dovecot.HostPort() + "]";
  Row(account, "<m1@x>", true);
  Row(account, "<m2@x>", true);
  Row(account, "<m3@x>", false);

  Delete(dovecot.HostPort() + "|bob|pw");

  for (int i = 0; i < 50 && dovecot.MessageCount("bob") != 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(dovecot.MessageCount("bob"), 1u);
  EXPECT_EQ(Copy(home, "<m1@x>"), Crlf(mails[0]));
  EXPECT_EQ(Copy(home, "<m2@x>"), Crlf(mails[1]));
  const auto kept = ListQuarantine(home.Path());
  ASSERT_THAT(kept, SizeIs(2));
  EXPECT_EQ(kept[0].AccountKey, account);
}

TEST_F(TSafeDeleteFixture, WithoutACopyNothingIsDeletedAndTheLogSaysWhy) {
  test::TPop3Mailbox server;
  server.AddUser("bob", "pw",
                 {Mail("a@x.org", "<m1@x>", "one"), Mail("spam@bad.example", "<m2@x>", "two")});
  server.SetCapabilities({"PIPELINING"});
  server.Start();
  // The copies' folder cannot be made: a plain file stands in its place.
  std::filesystem::remove_all(DeletedFolder(home.Path()));
  test::WriteAll(DeletedFolder(home.Path()), "not a folder");
  const std::string account = "bob[" + server.HostPort() + "]";
  Row(account, "<m1@x>", true);

  Delete(server.HostPort() + "|bob|pw");
  EXPECT_EQ(state.MailList.Rows()[0].Items[mcDeletionMark], "");
  EXPECT_THAT(sink.LogLines, Contains(HasSubstr("未删除")));

  // Nor does the check's spam deletion go ahead.
  test::WriteAll(home.Tmp() / "mrAddr.lst", "bad.example\r\n");
  plan.DeleteRubbish = true;
  Check(server.HostPort() + "|bob|pw");
  ASSERT_THAT(sink.Rows, SizeIs(2));
  EXPECT_EQ(sink.Rows[1].Items[mcVerdictMark], "Yes");
  EXPECT_EQ(sink.Rows[1].Items[mcDeletionMark], "");
  EXPECT_EQ(server.Messages("bob").size(), 2u);
  EXPECT_FALSE(Sent(server, "DELE 1") || Sent(server, "DELE 2"));
}

TEST_F(TSafeDeleteFixture, AFullOrFailingDiskDeletesOnlyWhatIsKept) {
  test::TPop3Mailbox server;
  std::vector<std::string> mails;
  for (int i = 1; i <= 4; ++i)
    mails.push_back(Mail("spam@bad.example", "<d" + std::to_string(i) + "@x>", "text"));
  server.AddUser("bob", "pw", mails);
  server.SetCapabilities({"PIPELINING"});
  server.Start();
  const std::string account = "bob[" + server.HostPort() + "]";
  for (int i = 1; i <= 4; ++i)
    Row(account, "<d" + std::to_string(i) + "@x>", i != 4);
  {
    test::TFileFaultScope fault(FileOp::Write, 2, ENOSPC, ".part");
    Delete(server.HostPort() + "|bob|pw");
  }
  EXPECT_EQ(Settled(server, 2), 2u);
  EXPECT_EQ(Copy(home, "<d1@x>"), Crlf(mails[0]));
  EXPECT_EQ(Copy(home, "<d3@x>"), Crlf(mails[2]));
  EXPECT_EQ(state.MailList.Rows()[1].Items[mcDeletionMark], "");
  EXPECT_THAT(sink.LogLines, Contains(HasSubstr("No space left")));

  // A check whose spam copies cannot be made durable deletes nothing and
  // says why its account failed.
  test::WriteAll(home.Tmp() / "mrAddr.lst", "bad.example\r\n");
  plan.DeleteRubbish = true;
  {
    test::TFileFaultScope fault(FileOp::Sync, 2, EIO, "deleted");
    Check(server.HostPort() + "|bob|pw");
  }
  EXPECT_EQ(server.Messages("bob").size(), 2u);
  EXPECT_THAT(sink.LogLines, Contains(HasSubstr("副本未能保存，本次检查未删除任何邮件")));
}

TEST_F(TSafeDeleteFixture, SpamDeletedDuringAPipelinedCheckIsKept) {
  test::TPop3Mailbox server;
  std::vector<std::string> mails;
  for (int i = 1; i <= 20; ++i) {
    const bool spam = i % 4 == 0;
    mails.push_back(Mail(spam ? "spam@bad.example" : "a@x.org", "<m" + std::to_string(i) + "@x>",
                         "body " + std::to_string(i)));
  }
  server.AddUser("bob", "pw", mails);
  server.SetCapabilities({"PIPELINING"});
  server.SetChunking(7, true);
  server.Start();
  test::WriteAll(home.Tmp() / "mrAddr.lst", "bad.example\r\n");
  plan.DeleteRubbish = true;
  Check(server.HostPort() + "|bob|pw");

  EXPECT_EQ(Settled(server, 15), 15u);
  for (int i = 4; i <= 20; i += 4) {
    const std::string id = "<m" + std::to_string(i) + "@x>";
    EXPECT_EQ(Copy(home, id), Crlf(mails[static_cast<std::size_t>(i - 1)])) << id;
    EXPECT_EQ(sink.Rows[static_cast<std::size_t>(i - 1)].Items[mcDeletionMark], "Deleted");
  }
  EXPECT_THAT(ListQuarantine(home.Path()), SizeIs(5));
}

TEST_F(TSafeDeleteFixture, TheFloodCleanCopiesFirstAndAStopKeepsEveryMessage) {
  test::TPop3Mailbox server;
  std::vector<std::string> mails;
  for (int i = 1; i <= 6; ++i)
    mails.push_back(Mail("a@x.org", i == 2 ? "" : "<f" + std::to_string(i) + "@x>", "flood"));
  server.AddUser("bob", "pw", mails);
  server.AddUser("ann", "pw", mails);
  server.Start();
  plan.ClearMoreRub = true;
  plan.ClearMoreRubNum = 3;
  sink.Answer = true;

  sink.StopAt = "正在保存第 3/6 封邮件的副本";
  Check(server.HostPort() + "|bob|pw");
  EXPECT_TRUE(Sent(server, "RSET"));
  EXPECT_EQ(server.Messages("bob").size(), 6u);
  // The copies of a group not yet deleted go with the stop.
  EXPECT_THAT(ListQuarantine(home.Path()), SizeIs(0));

  sink.StopAt.clear();
  Check(server.HostPort() + "|ann|pw");
  EXPECT_TRUE(server.Messages("ann").empty());
  EXPECT_THAT(ListQuarantine(home.Path()), SizeIs(6));
  EXPECT_EQ(Copy(home, "<f6@x>"), Crlf(mails[5]));
}

}  // namespace
}  // namespace pelorix
