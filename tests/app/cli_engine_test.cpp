#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "app/commands.h"
#include "cli_fixture.h"
#include "engine/mail_record.h"
#include "engine/record_files.h"
#include "engine/run_lock.h"
#include "store/accounts.h"
#include "store/filter_lists.h"
#include "store/ip_table.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"
#include "support/dovecot.h"

namespace pelorix {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

using test::TRun;

class CheckCommand : public test::TCliFixture {
 protected:
  void SetUp() override {
    TCliFixture::SetUp();
    store_ = TSettingsStore::Open(home_);
    ASSERT_TRUE(store_);
  }
  void TearDown() override {
    store_.reset();
    TCliFixture::TearDown();
  }
  TRun Check(std::vector<std::string> args) {
    args.insert(args.begin(), "check");
    return Run(args);
  }
  void Plan(bool checkSummary, bool deleteRubbish = false) {
    TMailPlan plan;
    plan.Load(*store_);
    plan.CheckSummary = checkSummary;
    plan.DeleteRubbish = deleteRubbish;
    ASSERT_TRUE(plan.Save(*store_));
  }
  std::vector<TMailRecord> Records(const fs::path& p) {
    auto r = ReadRecordFile(p);
    return r ? *r : std::vector<TMailRecord>{};
  }

  std::unique_ptr<TSettingsStore> store_;
};

std::string Mail(const std::string& from, const std::string& to, const std::string& subject,
                 const std::string& id, const std::string& relay = "61.135.1.2") {
  return "Received: from mx.example.org ([" + relay + "]) by pop.example.org\n" + "From: " + from +
         "\nTo: " + to + "\nSubject: " + subject + "\nMessage-ID: " + id +
         "\nDate: Tue, 08 Dec 2026 10:00:00 +0000\n\nbody of " + subject + "\n";
}

// QUIT is sent without waiting for its answer, so Dovecot may still be
// committing the deletions when the command returns.
std::size_t SettledCount(const test::TDovecotServer& dovecot, const std::string& user,
                         std::size_t expected) {
  for (int i = 0; i < 50 && dovecot.MessageCount(user) != expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return dovecot.MessageCount(user);
}

TEST_F(CheckCommand, NoAccountIsExitOne) {
  auto r = Check({});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("你必须指定至少一个邮件帐号才能检查!"));
  EXPECT_EQ(Check({"--frob"}).status, 2);
}

TEST_F(CheckCommand, RefusedWhileAnotherRunHoldsTheHome) {
  ASSERT_TRUE(SaveAccounts(*store_, {{"127.0.0.1:1", "u", "pw", ""}}));
  fs::create_directories(home_ / "tmp");
  std::ofstream(home_ / "tmp" / "busy.new") << "x";
  TFileLock window;
  ASSERT_TRUE(window.TryLock(RunLockPath(home_)));
  auto r = Check({});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("正在检测邮件！"));
  EXPECT_TRUE(fs::exists(home_ / "tmp" / "busy.new"));  // the other run's files stay
  std::ostringstream out, err;
  EXPECT_EQ(RunCommandLine({"--home", home_.string(), "delete"}, out, err), 1);
  EXPECT_THAT(err.str(), HasSubstr("正在检测邮件！"));
  window.Unlock();
  EXPECT_EQ(Check({}).status, 0);
}

TEST_F(CheckCommand, ChecksThreeDovecotAccountsEndToEnd) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  dovecot.AddUser(
      "alice", "a-pw",
      {Mail("friend@example.org", "alice@example.org", "hi alice", "<a1@example.org>"),
       Mail("promo@spam.example", "alice@example.org", "Big offer", "<a2@spam.example>")});
  dovecot.AddUser("bob", "b-pw",
                  {Mail("x@example.org", "bob@example.org", "one", "<b1@example.org>", "10.0.0.1"),
                   Mail("y@example.org", "bob@example.org", "two", "<b2@example.org>"),
                   Mail("z@example.org", "bob@example.org", "three", "<b3@example.org>")});
  dovecot.AddUser("carol", "c-pw");
  dovecot.Start();
  const std::string host = dovecot.HostPort();
  ASSERT_TRUE(SaveAccounts(
      *store_,
      {{host, "alice", "a-pw", "Alice"}, {host, "bob", "b-pw", ""}, {host, "carol", "c-pw", ""}}));
  TFilterLists lists;
  lists.Sender = {"spam.example"};
  ASSERT_TRUE(SaveFilterLists(*store_, lists));
  fs::create_directories(home_ / "modal");
  ASSERT_TRUE(ExportIpTable(home_ / "modal" / "ip.dat",
                            {{"061.135.000.000", "061.135.255.255", "北京", "电信"}}));
  Plan(true);

  auto r = Check({});
  ASSERT_EQ(r.status, 0) << r.err;
  // Event log on stderr, one line each, dated.
  EXPECT_THAT(r.err, HasSubstr(": 正在检测邮箱 " + host + "[alice]"));
  EXPECT_THAT(r.err, HasSubstr(": 检测到 3 封信件在" + host + "[bob] 中，共占用空间0Kb"));
  EXPECT_THAT(r.err, HasSubstr(": 邮箱 carol[" + host + "]已被检查完毕。"));
  EXPECT_THAT(r.err, Not(HasSubstr("CheckSummary")));
  // The brief on stdout.
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "邮件检测报告");
  EXPECT_THAT(r.out, HasSubstr("\n检测时间: "));
  EXPECT_THAT(r.out, HasSubstr("主题: hi alice\n"));
  EXPECT_THAT(r.out, HasSubstr("   真实网络地址: (北京@电信)\n"));
  EXPECT_THAT(r.out, HasSubstr("!! 发件人地址特征串\"spam.example\"存在于黑名单中。\n"));
  EXPECT_THAT(r.out, HasSubstr(std::string(50, '=') + "\ntolvane reported\n"));

  auto all = Records(home_ / "tmp" / "all.rec");
  ASSERT_EQ(all.size(), 5u);
  auto alice = Records(NewRecordPath(home_, "alice2" + host));
  auto aliceSpam = Records(SpamRecordPath(home_, "alice2" + host));
  auto bob = Records(NewRecordPath(home_, "bob2" + host));
  ASSERT_EQ(alice.size(), 1u);
  ASSERT_EQ(aliceSpam.size(), 1u);
  ASSERT_EQ(bob.size(), 3u);
  EXPECT_TRUE(fs::exists(NewRecordPath(home_, "carol2" + host)));
  EXPECT_EQ(fs::file_size(NewRecordPath(home_, "carol2" + host)), 0u);
  EXPECT_EQ(aliceSpam[0].VerdictMark, "Yes");
  EXPECT_EQ(aliceSpam[0].Subject, "Big offer");
  EXPECT_EQ(aliceSpam[0].Number, "2");
  EXPECT_EQ(alice[0].SenderRoute, "→(北京@电信)");
  EXPECT_EQ(bob[0].SenderRoute, "→...");
  EXPECT_EQ(alice[0].AccountKey, "alice[" + host + "]");
  EXPECT_EQ(alice[0].Recipients, "→alice@example.org");
  EXPECT_EQ(alice[0].MessageKey, "<a1@example.org>");
  EXPECT_EQ(alice[0].Priority, "3");
  EXPECT_NE(alice[0].Date, "");
  EXPECT_TRUE(fs::exists(home_ / "tmp" / "_a1@example_org_.msg"));
  EXPECT_EQ(dovecot.MessageCount("alice"), 2u);
}

TEST_F(CheckCommand, AccountContentAndDeletion) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  dovecot.AddUser("alice", "a-pw",
                  {Mail("promo@spam.example", "alice@example.org", "offer", "<s1@spam.example>"),
                   Mail("friend@example.org", "alice@example.org", "kept", "<k1@example.org>")});
  dovecot.AddUser("bob", "b-pw", {Mail("x@example.org", "bob@example.org", "one", "<b1@x>")});
  dovecot.Start();
  const std::string host = dovecot.HostPort();
  ASSERT_TRUE(SaveAccounts(*store_, {{host, "alice", "a-pw", ""}, {host, "bob", "b-pw", ""}}));
  TFilterLists lists;
  lists.Sender = {"spam.example"};
  ASSERT_TRUE(SaveFilterLists(*store_, lists));
  Plan(true, true);

  auto r = Check({"--content", "--account", "alice[" + host + "]"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("信件内文:\nbody of kept\n"));
  EXPECT_THAT(r.out, Not(HasSubstr("主题: one")));   // bob was not selected
  EXPECT_EQ(SettledCount(dovecot, "alice", 1), 1u);  // the spam was deleted
  EXPECT_EQ(dovecot.MessageCount("bob"), 1u);
  auto del = Records(DeletedRecordPath(home_, "alice2" + host));
  ASSERT_EQ(del.size(), 1u);
  EXPECT_EQ(del[0].Number, "1!");
  auto kept = Records(NewRecordPath(home_, "alice2" + host));
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].Number, "1");
  EXPECT_TRUE(fs::exists(home_ / "tmp" / "deleted" / "_s1@spam_example_.msg"));
  EXPECT_TRUE(fs::exists(home_ / "tmp" / "deleted" / "_s1@spam_example_"));
  EXPECT_EQ(std::ifstream(home_ / "tmp" / "_k1@example_org_").good(), true);

  EXPECT_EQ(Check({"--account", "nobody[" + host + "]"}).status, 1);
}

TEST_F(CheckCommand, YesAnswersTheFloodAlarmAndEmptiesTheMailbox) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  std::vector<std::string> flood;
  for (int i = 0; i < 5; ++i) {
    flood.push_back(
        Mail("f@spam.example", "alice@example.org", "flood", "<f" + std::to_string(i) + "@x>"));
  }
  dovecot.AddUser("alice", "a-pw", flood);
  dovecot.Start();
  ASSERT_TRUE(SaveAccounts(*store_, {{dovecot.HostPort(), "alice", "a-pw", ""}}));
  TMailPlan plan;
  plan.Load(*store_);
  plan.CheckSummary = true;
  plan.ClearMoreRubNum = 4;
  ASSERT_TRUE(plan.Save(*store_));

  auto no = Check({});
  ASSERT_EQ(no.status, 0) << no.err;
  EXPECT_THAT(no.err, HasSubstr("Warning!\n在邮箱alice[" + dovecot.HostPort() +
                                "]中，\n信件数量多达 5 封"));
  EXPECT_THAT(no.err, HasSubstr("\nNo\n"));
  EXPECT_EQ(dovecot.MessageCount("alice"), 5u);
  EXPECT_EQ(Records(home_ / "tmp" / "all.rec").size(), 5u);

  auto yes = Check({"--yes"});
  ASSERT_EQ(yes.status, 0) << yes.err;
  EXPECT_THAT(yes.err, HasSubstr("确实要清除所有信件吗？"));
  EXPECT_THAT(yes.err, HasSubstr("[alice]Number: 5 deleted!"));
  EXPECT_EQ(dovecot.MessageCount("alice"), 0u);
  // The message pass saw the emptied mailbox: nothing judged, no brief.
  EXPECT_EQ(Records(home_ / "tmp" / "all.rec").size(), 0u);
  EXPECT_EQ(yes.out, "");
}

TEST_F(CheckCommand, WithoutCheckSummaryOnlyCountsAndSaysHowToSwitchItOn) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  dovecot.AddUser("alice", "a-pw", {Mail("f@example.org", "alice@example.org", "hi", "<1@x>")});
  dovecot.Start();
  ASSERT_TRUE(SaveAccounts(*store_, {{dovecot.HostPort(), "alice", "a-pw", ""}}));
  auto r = Check({});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_THAT(r.err, HasSubstr("检测到 1 封信件在"));
  EXPECT_THAT(r.err, HasSubstr("pelorix set MailCheck CheckSummary on"));
  EXPECT_EQ(Records(home_ / "tmp" / "all.rec").size(), 0u);
  EXPECT_TRUE(fs::exists(home_ / "tmp" / "all.rec"));
}

}  // namespace
}  // namespace pelorix

namespace pelorix {
namespace {

class DeleteCommand : public CheckCommand {
 protected:
  TRun Delete(std::vector<std::string> args) {
    args.insert(args.begin(), "delete");
    return Run(args);
  }
  // Ticks the rows of all.rec whose message key is listed, unticks the rest.
  void Tick(const std::vector<std::string>& keys) {
    auto records = Records(AllRecordPath(home_));
    ASSERT_FALSE(records.empty());
    for (auto& r : records) {
      bool want = std::find(keys.begin(), keys.end(), r.MessageKey) != keys.end();
      r.VerdictMark = want ? "Yes" : "";
    }
    ASSERT_TRUE(WriteRecordFile(AllRecordPath(home_), records));
  }
};

TEST_F(DeleteCommand, WithoutAListItSaysSoAndFails) {
  auto r = Delete({});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("all.rec"));
  EXPECT_EQ(Delete({"extra"}).status, 2);
}

TEST_F(DeleteCommand, DeletesTheTickedMessagesOfTheLastCheck) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  dovecot.AddUser("ann", "pw1",
                  {Mail("x@example.org", "ann@example.org", "a1", "<a1@x>"),
                   Mail("x@example.org", "ann@example.org", "a2", "<a2@x>"),
                   Mail("x@example.org", "ann@example.org", "a3", "<a3@x>")});
  dovecot.AddUser("ben", "pw2", {Mail("x@example.org", "ben@example.org", "b1", "<b1@x>")});
  dovecot.Start();
  std::vector<TAccount> accounts = {{dovecot.HostPort(), "ann", "pw1", ""},
                                    {dovecot.HostPort(), "ben", "pw2", ""}};
  ASSERT_TRUE(SaveAccounts(*store_, accounts));
  Plan(true);
  ASSERT_EQ(Check({}).status, 0);

  // Only ann's account is selected: ben's ticked row stays on the server.
  Tick({"<a1@x>", "<a3@x>", "<b1@x>"});
  // A copy older than the 30 days kept by default goes at the start.
  const fs::path expired = home_ / "tmp" / "deleted" / "old.eml";
  std::ofstream(expired) << "Subject: old\r\n\r\n";
  fs::last_write_time(expired, fs::file_time_type::clock::now() - std::chrono::hours(24 * 31));
  const std::string ann = "ann[" + dovecot.HostPort() + "]";
  auto r = Delete({"--account", ann});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "deleted 2 messages: " + ann + " 2\n");
  EXPECT_THAT(r.err, HasSubstr("已被检测完毕！"));
  EXPECT_EQ(SettledCount(dovecot, "ann", 1), 1u);
  EXPECT_THAT(dovecot.Messages("ann")[0], HasSubstr("<a2@x>"));
  EXPECT_EQ(dovecot.MessageCount("ben"), 1u);

  auto deleted = Records(DeletedRecordPath(home_, "ann2" + dovecot.HostPort()));
  ASSERT_EQ(deleted.size(), 2u);
  EXPECT_EQ(deleted[0].MessageKey, "<a1@x>");
  EXPECT_EQ(deleted[1].MessageKey, "<a3@x>");
  EXPECT_TRUE(fs::exists(home_ / "tmp" / "deleted" / "_a1@x_.msg"));
  EXPECT_TRUE(fs::exists(home_ / "tmp" / "deleted" / "_a1@x_.eml"));
  EXPECT_FALSE(fs::exists(expired));
  EXPECT_TRUE(fs::exists(home_ / "tmp" / "_a2@x_.msg"));

  // all.rec now marks them deleted; a second run deletes nothing more.
  int marked = 0;
  for (const auto& rec : Records(AllRecordPath(home_)))
    marked += rec.DeletionMark == "Deleted";
  EXPECT_EQ(marked, 2);
  r = Delete({"--account", ann});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "deleted 0 messages: " + ann + " 0\n");
  EXPECT_EQ(dovecot.MessageCount("ann"), 1u);
}

TEST_F(CheckCommand, ImapAccountAddedCheckedAndClearedIntoJunk) {
  if (auto why = test::TDovecotServer::ImapSkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  dovecot.AddUser("ann", "a-pw",
                  {Mail("friend@example.org", "ann@example.org", "hello", "<h1@example.org>"),
                   Mail("promo@spam.example", "ann@example.org", "offer", "<s1@spam.example>")});
  dovecot.EnableImap();
  dovecot.Start();
  const std::string host = dovecot.ImapHostPort();
  ASSERT_EQ(Run({"account", "add", "--server", host, "--user", "ann", "--password", "a-pw",
                 "--security", "none", "--imap", "--delete-mode", "bogus"})
                .status,
            2);
  ASSERT_EQ(Run({"account", "add", "--server", host, "--user", "ann", "--password", "a-pw",
                 "--security", "none", "--imap"})
                .status,
            0);
  EXPECT_THAT(Run({"account", "list"}).out, HasSubstr("ann\t\tIMAP"));
  TFilterLists lists;
  lists.Sender = {"spam.example"};
  ASSERT_TRUE(SaveFilterLists(*store_, lists));
  Plan(true);

  auto r = Check({});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("主题: offer\n"));
  // A second process deletes what the first one's list has ticked.
  r = Run({"delete"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dovecot.MessageCount("ann"), 1u);
  const auto junk = dovecot.Messages("ann", "Junk");
  ASSERT_EQ(junk.size(), 1u);
  EXPECT_THAT(junk[0], HasSubstr("<s1@spam.example>"));
  EXPECT_EQ(Records(DeletedRecordPath(home_, "ann2" + host)).size(), 1u);

  // Removed, the account leaves no IMAP settings behind.
  ASSERT_EQ(Run({"account", "remove", "--server", host, "--user", "ann"}).status, 0);
  ASSERT_EQ(Run({"account", "add", "--server", host, "--user", "ann", "--password", "a-pw"}).status,
            0);
  EXPECT_THAT(Run({"account", "list"}).out, Not(HasSubstr("IMAP")));
}

}  // namespace
}  // namespace pelorix
