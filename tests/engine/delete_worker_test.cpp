#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/check_run.h"
#include "engine/delete_worker.h"
#include "engine/record_files.h"
#include "recording_sink.h"
#include "store/accounts.h"
#include "store/settings_store.h"
#include "support/dovecot.h"
#include "support/fake_server.h"
#include "test_home.h"

namespace pelorix {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

std::string Mail(const std::string& subject, const std::string& id) {
  std::string header = "From: a@example.org\nTo: bob@example.org\nSubject: " + subject + "\n";
  if (!id.empty())
    header += "Message-ID: " + id + "\n";
  return header + "\nbody of " + subject + "\n";
}

// QUIT is sent without waiting for its answer: the server may still be
// committing the deletions when the worker returns.
template <typename Server>
std::size_t Settled(const Server& server, const std::string& user, std::size_t expected) {
  for (int i = 0; i < 50 && server.Messages(user).size() != expected; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return server.Messages(user).size();
}

// Stops its worker when a given status text is shown.
class TStoppingSink : public test::TRecordingSink {
 public:
  void StatusRefresh(const TStatusTexts& texts) override {
    test::TRecordingSink::StatusRefresh(texts);
    if (Worker && texts.State == StopAt)
      Worker->Terminate();
  }
  Tdeletemail* Worker = nullptr;
  std::string StopAt;
};

struct TDeleteFixture : ::testing::Test {
  test::TTempHome home;
  TRunState state{home.Path()};
  TStoppingSink sink;
  TDeletionTally tally;
  test::TPop3Mailbox server;
  TMailPlan plan;

  TDeleteFixture() {
    plan.CheckSummary = true;
    state.ReadTimeoutMs = 2000;
  }
  std::string Key(const std::string& user = "bob") { return user + "[" + server.HostPort() + "]"; }
  std::string FileName(const std::string& user = "bob") { return user + "2" + server.HostPort(); }
  std::string Entry(const std::string& user = "bob", const std::string& pw = "pw") {
    return server.HostPort() + "|" + user + "|" + pw;
  }
  // A list row as a check leaves it.
  std::size_t Row(const std::string& id, bool ticked, const std::string& account = "") {
    TMailRecord r;
    r.VerdictMark = ticked ? "Yes" : "";
    r.AccountKey = account.empty() ? Key() : account;
    r.MessageKey = id;
    r.Subject = "subject of " + id;
    r.Size = "120";
    r.Number = std::to_string(state.MailList.Count() + 1);
    return state.MailList.Append(RowFromRecord(r));
  }
  void Run(std::vector<std::string> queue) {
    state.SetPlan(plan);
    state.DeleteQueue = TAccountQueue(queue.begin(), queue.end());
    state.RunningWorkers = 1;
    Tdeletemail1 worker(state, sink, tally);
    sink.Worker = &worker;
    worker.Execute();
    sink.Worker = nullptr;
  }
  std::vector<std::string> Keys(const std::filesystem::path& p) {
    std::vector<std::string> keys;
    if (auto records = ReadRecordFile(p)) {
      for (const auto& r : *records)
        keys.push_back(r.MessageKey);
    }
    return keys;
  }
  std::vector<std::string> Subjects(const std::vector<std::string>& messages) {
    std::vector<std::string> subjects;
    for (const auto& m : messages) {
      auto p = m.find("Subject: ");
      subjects.push_back(m.substr(p + 9, m.find('\n', p) - p - 9));
    }
    return subjects;
  }
  bool Sent(const std::string& command) {
    auto commands = server.Commands();
    return std::find(commands.begin(), commands.end(), command) != commands.end();
  }
};

TEST_F(TDeleteFixture, APipelinedWalkDeletesExactlyTheTickedMessages) {
  std::vector<std::string> mails, kept;
  for (int i = 1; i <= 30; ++i) {
    const std::string n = std::to_string(i);
    mails.push_back(Mail("s" + n, "<m" + n + "@x>"));
    // Message 8 cannot be fetched: it stays, ticked or not.
    const bool ticked = i % 3 == 2;
    Row("<m" + n + "@x>", ticked);
    if (!ticked || i == 8)
      kept.push_back("s" + n);
  }
  server.AddUser("bob", "pw", mails);
  server.SetCapabilities({"PIPELINING"});
  server.SetChunking(0, true);
  server.ReplaceReply("TOP 8 ", "-ERR gone");
  server.Start();
  Run({Entry()});
  ASSERT_EQ(Settled(server, "bob", kept.size()), kept.size());
  EXPECT_EQ(Subjects(server.Messages("bob")), kept);
  EXPECT_GT(server.MostCommandsAhead(), 0);
  EXPECT_EQ(state.MailList.Row(7).Items[mcDeletionMark], "");
  EXPECT_EQ(state.MailList.Row(10).Items[mcDeletionMark], "Deleted");
}

TEST_F(TDeleteFixture, DeletesExactlyTheTickedMessagesAndRewritesTheRecordFiles) {
  server.AddUser("bob", "pw",
                 {Mail("one", "<m1@x>"), Mail("two", "<m2@x>"), Mail("three", "<m3@x>")});
  server.Start();
  Row("<m1@x>", false);
  Row("<m2@x>", true);
  Row("<m3@x>", false);
  test::WriteAll(home.Tmp() / "_m2@x_.msg", "header");
  test::WriteAll(home.Tmp() / "_m2@x_", "body");
  Run({Entry()});

  ASSERT_EQ(Settled(server, "bob", 2), 2u);
  EXPECT_THAT(Subjects(server.Messages("bob")), ElementsAre("one", "three"));
  TMailRow row = state.MailList.Row(1);
  EXPECT_EQ(row.Items[mcDeletionMark], "Deleted");
  // The server's size, padded to 8, and "!".
  ASSERT_EQ(row.Items[mcSize].size(), 9u);
  EXPECT_EQ(row.Items[mcSize].back(), '!');
  EXPECT_GT(std::stoi(row.Items[mcSize].substr(0, 8)), 40);
  EXPECT_EQ(state.MailList.Row(0).Items[mcDeletionMark], "");

  EXPECT_THAT(Keys(NewRecordPath(home.Path(), FileName())), ElementsAre("<m1@x>", "<m3@x>"));
  EXPECT_THAT(Keys(SpamRecordPath(home.Path(), FileName())), IsEmpty());
  EXPECT_THAT(Keys(DeletedRecordPath(home.Path(), FileName())), ElementsAre("<m2@x>"));
  EXPECT_EQ(test::ReadAll(home.Tmp() / "deleted" / "_m2@x_.msg"), "header");
  EXPECT_EQ(test::ReadAll(home.Tmp() / "deleted" / "_m2@x_"), "body");
  EXPECT_FALSE(std::filesystem::exists(home.Tmp() / "_m2@x_.msg"));

  EXPECT_TRUE(sink.Said("正在检查: " + server.HostPort() + "[bob]"));
  EXPECT_TRUE(sink.Said("正在检查第 3 封邮件。"));
  EXPECT_TRUE(sink.Said("邮箱" + server.HostPort() + "[bob] 已被检测完毕！"));
  EXPECT_EQ(tally.Counts()[Key()], 1);
  EXPECT_EQ(state.RunningWorkers, 0);
  EXPECT_TRUE(state.QueueDrained);
  EXPECT_EQ(sink.Ended, 1);
}

TEST_F(TDeleteFixture, AMissingDeletedFolderIsMadeForTheRecordsAndFilesOfDeletedMail) {
  // A deletion run loads all.rec without preparing tmp/ first.
  std::filesystem::remove_all(home.Tmp() / "deleted");
  server.AddUser("bob", "pw", {Mail("one", "<m1@x>")});
  server.Start();
  Row("<m1@x>", true);
  test::WriteAll(home.Tmp() / "_m1@x_.msg", "header");
  Run({Entry()});
  ASSERT_EQ(Settled(server, "bob", 0), 0u);
  EXPECT_THAT(Keys(DeletedRecordPath(home.Path(), FileName())), ElementsAre("<m1@x>"));
  EXPECT_EQ(test::ReadAll(home.Tmp() / "deleted" / "_m1@x_.msg"), "header");
  EXPECT_FALSE(std::filesystem::exists(home.Tmp() / "_m1@x_.msg"));
}

TEST_F(TDeleteFixture, EmptyMailboxStillRewritesTheFilesAndGoneTickedRowsStaySpam) {
  server.AddUser("bob", "pw");
  server.Start();
  Row("<gone@x>", true);
  Row("<kept@x>", false);
  Run({Entry()});
  EXPECT_TRUE(sink.Said("检测到 0 封信件在" + server.HostPort() + "[bob] 中，共占用空间0K"));
  EXPECT_THAT(Keys(SpamRecordPath(home.Path(), FileName())), ElementsAre("<gone@x>"));
  EXPECT_THAT(Keys(NewRecordPath(home.Path(), FileName())), ElementsAre("<kept@x>"));
  EXPECT_TRUE(state.MailList.Row(0).Checked);
  EXPECT_EQ(state.MailList.Row(0).Items[mcDeletionMark], "");
}

TEST_F(TDeleteFixture, WithoutCheckSummaryNothingIsDeletedButFilesAreRewritten) {
  server.AddUser("bob", "pw", {Mail("one", "<m1@x>")});
  server.Start();
  Row("<m1@x>", true);
  plan.CheckSummary = false;
  Run({Entry()});
  EXPECT_EQ(server.Messages("bob").size(), 1u);
  EXPECT_FALSE(Sent("DELE 1"));
  EXPECT_THAT(Keys(SpamRecordPath(home.Path(), FileName())), ElementsAre("<m1@x>"));
}

TEST_F(TDeleteFixture, StopSendsRsetBeforeQuitAndGivesTheRowsBack) {
  server.AddUser("bob", "pw",
                 {Mail("one", "<m1@x>"), Mail("two", "<m2@x>"), Mail("three", "<m3@x>")});
  server.AddUser("carol", "pw", {Mail("four", "<m4@x>")});
  server.Start();
  Row("<m1@x>", true);
  Row("<m2@x>", true);
  Row("<m4@x>", true, Key("carol"));
  sink.StopAt = "正在检查第 2 封邮件。";
  Run({Entry(), Entry("carol")});

  // Both DELEs were withdrawn by RSET before QUIT.
  auto commands = server.Commands();
  auto rset = std::find(commands.begin(), commands.end(), "RSET");
  ASSERT_NE(rset, commands.end());
  EXPECT_NE(std::find(rset, commands.end(), "QUIT"), commands.end());
  EXPECT_TRUE(Sent("DELE 2"));
  EXPECT_EQ(server.Messages("bob").size(), 3u);
  EXPECT_EQ(state.MailList.Row(0).Items[mcDeletionMark], "");
  EXPECT_EQ(state.MailList.Row(1).Items[mcDeletionMark], "");
  EXPECT_THAT(Keys(SpamRecordPath(home.Path(), FileName())), ElementsAre("<m1@x>", "<m2@x>"));
  EXPECT_THAT(Keys(DeletedRecordPath(home.Path(), FileName())), IsEmpty());
  // The next account is still connected and counted, and stops at once.
  EXPECT_TRUE(sink.Said("检测到 1 封信件在" + server.HostPort() + "[carol] 中，共占用空间0K"));
  EXPECT_EQ(server.Messages("carol").size(), 1u);
  EXPECT_EQ(tally.Counts()[Key()], 0);
}

TEST_F(TDeleteFixture, EmptyKeysAndOtherAccountsNeverSelectAMessage) {
  server.AddUser("bob", "pw", {Mail("no id", ""), Mail("two", "<m2@x>")});
  server.Start();
  Row("", true);                            // empty key
  Row("<m2@x>", true, "carol[elsewhere]");  // same key, other account
  Run({Entry()});
  EXPECT_EQ(server.Messages("bob").size(), 2u);
  EXPECT_FALSE(Sent("DELE 1"));
  EXPECT_FALSE(Sent("DELE 2"));
  EXPECT_EQ(state.MailList.Row(1).Items[mcDeletionMark], "");
  // Rows of other accounts are not written to this account's files.
  EXPECT_THAT(Keys(SpamRecordPath(home.Path(), FileName())), ElementsAre(""));
}

TEST_F(TDeleteFixture, TwoMessagesWithOneKeyPairWithOneRowEach) {
  server.AddUser("bob", "pw", {Mail("first", "<dup@x>"), Mail("second", "<dup@x>")});
  server.Start();
  Row("<dup@x>", true);
  Row("<dup@x>", false);  // the user kept the second one
  Run({Entry()});
  ASSERT_EQ(Settled(server, "bob", 1), 1u);
  EXPECT_THAT(Subjects(server.Messages("bob")), ElementsAre("second"));
  EXPECT_EQ(state.MailList.Row(0).Items[mcDeletionMark], "Deleted");
  EXPECT_EQ(state.MailList.Row(1).Items[mcDeletionMark], "");
}

TEST_F(TDeleteFixture, AFailedAccountDeletesNothingAndLeavesItsFilesAlone) {
  server.AddUser("bob", "pw", {Mail("one", "<m1@x>"), Mail("two", "<m2@x>")});
  server.AddUser("carol", "pw", {Mail("three", "<m3@x>")});
  server.ReplaceReply("DELE 2", "-ERR cannot");
  server.Start();
  Row("<m1@x>", true);
  Row("<m2@x>", true);
  Row("<m3@x>", true, Key("carol"));
  test::WriteAll(NewRecordPath(home.Path(), FileName()), "previous");
  Run({Entry("bob"), Entry("nobody", "wrong"), Entry("carol")});

  EXPECT_TRUE(sink.Said(server.HostPort() + "[bob]不能删除信件!"));
  EXPECT_TRUE(sink.Said(server.HostPort() + "[nobody]不能删除信件!"));
  // The first DELE was never committed: the session ended without QUIT.
  EXPECT_EQ(server.Messages("bob").size(), 2u);
  EXPECT_EQ(state.MailList.Row(0).Items[mcDeletionMark], "");
  EXPECT_EQ(test::ReadAll(NewRecordPath(home.Path(), FileName())), "previous");
  // The next accounts are still served.
  EXPECT_EQ(Settled(server, "carol", 0), 0u);
  EXPECT_EQ(state.MailList.Row(2).Items[mcDeletionMark], "Deleted");
}

TEST_F(TDeleteFixture, EngineRefusesWhileBusyAndSavesTheListWhenDone) {
  server.AddUser("bob", "pw", {Mail("one", "<m1@x>")});
  server.Start();
  std::unique_ptr<TSettingsStore> store = TSettingsStore::Open(home.Path());
  plan.Save(*store);
  state.SetPlan(plan);
  TDeleteEngine engine(state, *store, sink);
  EXPECT_EQ(engine.StartDeletion(), TStartResult::NoAccount);
  EXPECT_FALSE(state.Busy);

  ASSERT_TRUE(SaveAccounts(*store, {{server.HostPort(), "bob", "pw", ""}}));
  Row("<m1@x>", true);
  state.Busy = true;
  EXPECT_EQ(engine.StartDeletion(), TStartResult::Busy);
  state.Busy = false;

  ASSERT_EQ(engine.StartDeletion(Key()), TStartResult::Started);
  engine.WaitForWorkers();
  EXPECT_EQ(sink.Ended, 3);
  TDeletionFinished done = engine.DeletionFinished();
  EXPECT_TRUE(done.Acted);
  EXPECT_TRUE(done.AllRecordSaved);
  EXPECT_EQ(done.DeletedPerAccount[Key()], 1);
  EXPECT_FALSE(state.Busy);
  EXPECT_FALSE(engine.DeletionFinished().Acted);  // once per run
  EXPECT_THAT(Keys(AllRecordPath(home.Path())), ElementsAre("<m1@x>"));
  EXPECT_EQ(Settled(server, "bob", 0), 0u);
}

TEST(DeleteAgainstDovecot, CheckTickDeleteRemovesExactlyTheTickedMessages) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  std::vector<std::string> mails;
  for (int i = 1; i <= 5; ++i)
    mails.push_back(Mail("mail " + std::to_string(i), "<d" + std::to_string(i) + "@x>"));
  dovecot.AddUser("alice", "secret", mails);
  dovecot.AddUser("bert", "secret", {Mail("mail 6", "<d6@x>")});
  dovecot.Start();

  test::TTempHome home;
  std::unique_ptr<TSettingsStore> store = TSettingsStore::Open(home.Path());
  TMailPlan plan;
  plan.CheckSummary = true;
  plan.ClearMoreRub = true;
  plan.ClearMoreRubNum = 10000;
  plan.SkipBytes = 100;
  plan.Save(*store);
  ASSERT_TRUE(SaveAccounts(*store, {{dovecot.HostPort(), "alice", "secret", ""},
                                    {dovecot.HostPort(), "bert", "secret", ""}}));
  test::TRecordingSink sink;
  TCheckEngine check(home.Path(), *store, sink);
  check.LoadPlan();
  check.State().ReadTimeoutMs = 5000;
  ASSERT_EQ(check.StartHeaderCheck(), TStartResult::Started);
  check.WaitForWorkers();
  ASSERT_TRUE(check.CheckFinished().Acted);
  ASSERT_EQ(check.MailList().Count(), 6u);

  // Tick mail 2, mail 4 and mail 6 (another account).
  std::vector<std::string> ticked = {"<d2@x>", "<d4@x>", "<d6@x>"};
  for (std::size_t i = 0; i < check.MailList().Count(); ++i) {
    const std::string key = check.MailList().Row(i).Items[mcMessageKey];
    check.MailList().SetChecked(i, std::find(ticked.begin(), ticked.end(), key) != ticked.end());
    test::WriteAll(home.Tmp() / (KeyFileName(key) + ".msg"), "h");
  }
  TDeleteEngine deleter(check.State(), *store, sink);
  ASSERT_EQ(deleter.StartDeletion(), TStartResult::Started);
  deleter.WaitForWorkers();
  TDeletionFinished done = deleter.DeletionFinished();
  ASSERT_TRUE(done.Acted);

  // What the server really holds now.
  EXPECT_EQ(Settled(dovecot, "alice", 3), 3u);
  EXPECT_EQ(Settled(dovecot, "bert", 0), 0u);
  for (const auto& m : dovecot.Messages("alice")) {
    EXPECT_THAT(m, Not(HasSubstr("<d2@x>")));
    EXPECT_THAT(m, Not(HasSubstr("<d4@x>")));
  }
  const std::string aliceFile = "alice2" + dovecot.HostPort();
  auto deleted = ReadRecordFile(DeletedRecordPath(home.Path(), aliceFile));
  ASSERT_TRUE(deleted);
  ASSERT_EQ(deleted->size(), 2u);
  EXPECT_EQ((*deleted)[0].MessageKey, "<d2@x>");
  EXPECT_EQ((*deleted)[1].MessageKey, "<d4@x>");
  EXPECT_EQ((*deleted)[0].DeletionMark, "Deleted");
  EXPECT_TRUE(std::filesystem::exists(home.Tmp() / "deleted" / "_d2@x_.msg"));
  EXPECT_TRUE(std::filesystem::exists(home.Tmp() / "_d1@x_.msg"));
  auto fresh = ReadRecordFile(NewRecordPath(home.Path(), aliceFile));
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->size(), 3u);
  EXPECT_EQ(done.DeletedPerAccount["alice[" + dovecot.HostPort() + "]"], 2);
  EXPECT_EQ(done.DeletedPerAccount["bert[" + dovecot.HostPort() + "]"], 1);
}

}  // namespace
}  // namespace pelorix

namespace pelorix {
namespace {

TEST(RunKinds, EachFinishedHandlerActsOnlyForItsOwnRun) {
  test::TTempHome home;
  std::unique_ptr<TSettingsStore> store = TSettingsStore::Open(home.Path());
  test::TRecordingSink sink;
  TCheckEngine check(home.Path(), *store, sink);
  TDeleteEngine deleter(check.State(), *store, sink);
  TRunState& state = check.State();
  // The end of a deletion run as its last worker leaves it.
  state.Busy = true;
  state.RunningWorkers = 0;
  state.QueueDrained = true;
  state.DeleteQueue = TAccountQueue{};
  EXPECT_FALSE(check.CheckFinished().Acted);
  EXPECT_TRUE(state.Busy);
  EXPECT_TRUE(deleter.DeletionFinished().Acted);
  EXPECT_FALSE(state.Busy);
  // And the end of a check run.
  state.Busy = true;
  state.CheckQueue = TAccountQueue{};
  EXPECT_FALSE(deleter.DeletionFinished().Acted);
  EXPECT_TRUE(check.CheckFinished().Acted);
  EXPECT_FALSE(state.Busy);
}

}  // namespace
}  // namespace pelorix
