#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/check_worker.h"
#include "engine/message_file.h"
#include "engine/record_files.h"
#include "engine/run_state.h"
#include "recording_sink.h"
#include "support/fake_server.h"
#include "test_home.h"
#include "text/ansi.h"

namespace pelorix {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

std::string Mail(const std::string& from, const std::string& subject, const std::string& id,
                 const std::string& body = "hello") {
  return "From: " + from + "\nTo: bob@example.org\nSubject: " + subject + "\nMessage-ID: " + id +
         "\n\n" + body + "\n";
}

struct TWorkerFixture : ::testing::Test {
  test::TTempHome home;
  TRunState state{home.Path()};
  test::TRecordingSink sink;
  test::TPop3Mailbox server;
  TMailPlan plan;

  TWorkerFixture() {
    plan.CheckSummary = true;
    plan.ClearMoreRub = true;
    plan.ClearMoreRubNum = 10000;
    plan.SkipBytes = 100;
    state.ReadTimeoutMs = 2000;
  }
  std::string Entry(const std::string& user, const std::string& password = "pw") {
    return server.HostPort() + "|" + user + "|" + password;
  }
  void ListFile(const std::string& name, const std::string& lines) {
    test::WriteAll(home.Tmp() / name, lines);
  }
  // Runs one worker of slot 1 over the queue on this thread.
  void Run(std::vector<std::string> queue) {
    state.SetPlan(plan);
    state.CheckQueue = TAccountQueue(queue.begin(), queue.end());
    state.AccountCount = static_cast<int>(queue.size());
    state.RunningWorkers = 1;
    TCheckmail1 worker(state, sink);
    if (OnWorker)
      OnWorker(worker);
    worker.Execute();
  }
  std::vector<std::string> Report(int slot = 1) {
    std::vector<std::string> lines;
    ReadAnsiLines(MessageFilePath(home.Path(), slot), lines);
    return lines;
  }
  std::vector<TMailRecord> Records(const std::filesystem::path& p) {
    auto r = ReadRecordFile(p);
    return r ? *r : std::vector<TMailRecord>{};
  }
  std::string FileName() { return "bob2" + server.HostPort(); }
  std::function<void(TCheckmail&)> OnWorker;
};

TEST_F(TWorkerFixture, ChecksEveryMessageIntoRowsRecordsAndTheReport) {
  server.AddUser("bob", "pw",
                 {Mail("a@example.org", "one", "<m1@x>"), Mail("spam@bad.example", "two", "<m2@x>"),
                  Mail("c@example.org", "three", "<m3@x>")});
  server.Start();
  ListFile("mrAddr.lst", "bad.example\r\n");
  Run({Entry("bob")});

  ASSERT_EQ(sink.Rows.size(), 3u);
  EXPECT_EQ(state.MailList.Count(), 3u);
  EXPECT_EQ(sink.Rows[1].Items[mcVerdictMark], "Yes");
  EXPECT_TRUE(sink.Rows[1].Checked);
  EXPECT_EQ(sink.Rows[0].Items[mcNumber], "1");
  EXPECT_EQ(sink.Rows[2].Items[mcNumber], "3");
  EXPECT_EQ(sink.Rows[0].Items[mcAccountKey], "bob[" + server.HostPort() + "]");
  EXPECT_EQ(sink.Rows[0].Items[mcSubject], "one");

  auto kept = Records(NewRecordPath(home.Path(), FileName()));
  auto spam = Records(SpamRecordPath(home.Path(), FileName()));
  ASSERT_EQ(kept.size(), 2u);
  ASSERT_EQ(spam.size(), 1u);
  EXPECT_EQ(spam[0].MessageKey, "<m2@x>");
  EXPECT_EQ(spam[0].VerdictMark, "Yes");
  EXPECT_EQ(kept[1].Number, "3");
  EXPECT_TRUE(std::filesystem::exists(home.Tmp() / "_m1@x_.msg"));
  EXPECT_FALSE(std::filesystem::exists(home.Tmp() / "_m1@x_"));  // header check: no body file

  auto report = Report();
  ASSERT_GE(report.size(), 3u);
  EXPECT_EQ(report[0], std::string(50, '*'));
  EXPECT_THAT(report[1],
              HasSubstr("检测到 3 封信件在" + server.HostPort() + "[bob] 中，共占用空间"));
  EXPECT_THAT(report, Contains("主题: two"));
  EXPECT_THAT(report, Contains("!! 发件人地址特征串\"bad.example\"存在于黑名单中。"));

  EXPECT_TRUE(sink.Said("邮箱 bob[" + server.HostPort() + "]已被检查完毕。"));
  EXPECT_TRUE(sink.Said("bob[" + server.HostPort() + "] 共有 3 封新邮件等待您接收!"));
  ASSERT_EQ(sink.Counters.size(), 1u);
  EXPECT_EQ(sink.Counters[0].SpamCount, 1);
  EXPECT_EQ(state.NewMailCount, 3);
  EXPECT_EQ(state.RunningWorkers, 0);
  EXPECT_TRUE(state.QueueDrained);
  EXPECT_EQ(sink.Ended, 1);
  EXPECT_EQ(server.Messages("bob").size(), 3u);  // nothing deleted
}

TEST_F(TWorkerFixture, ABracketInTheCharsetSurvivesSaveAndReload) {
  server.AddUser("bob", "pw",
                 {"From: a@example.org\nSubject: s\nMessage-ID: <b@x>\n"
                  "Content-Type: text/plain; charset=\"a[b\"\n\nbody\n"});
  server.Start();
  Run({Entry("bob")});
  ASSERT_EQ(state.MailList.Count(), 1u);
  const TMailRow shown = state.MailList.Row(0);
  EXPECT_EQ(shown.Items[mcCharsetType].find('['), 3u);  // "A_B[" ...
  const auto saved = home.Path() / "list.rec";
  ASSERT_TRUE(state.MailList.SaveRecordFile(saved));
  TMailList reloaded;
  ASSERT_TRUE(reloaded.LoadRecordFile(saved, true));
  EXPECT_EQ(reloaded.Row(0).Items[mcCharsetType], shown.Items[mcCharsetType]);
}

TEST_F(TWorkerFixture, DeletedSpamKeepsTheNumberingOfTheKeptMessages) {
  server.AddUser(
      "bob", "pw",
      {Mail("a@example.org", "one", "<m1@x>"), Mail("a@example.org", "two", "<m2@x>"),
       Mail("spam@bad.example", "three", "<m3@x>"), Mail("c@example.org", "four", "<m4@x>")});
  server.Start();
  ListFile("mrAddr.lst", "bad.example\r\n");
  plan.DeleteRubbish = true;
  // A row shows only once its message's files are where they belong.
  std::vector<std::string> placed;
  sink.OnRow = [&](std::size_t index) {
    const std::string name = "_m" + std::to_string(index + 1) + "@x_.msg";
    placed.push_back(std::filesystem::exists(home.Tmp() / name)               ? "tmp"
                     : std::filesystem::exists(home.Tmp() / "deleted" / name) ? "deleted"
                                                                              : "missing");
  };
  Run({Entry("bob")});

  EXPECT_THAT(placed, ElementsAre("tmp", "tmp", "deleted", "tmp"));
  ASSERT_EQ(sink.Rows.size(), 4u);
  EXPECT_EQ(sink.Rows[2].Items[mcNumber], "3!");
  EXPECT_EQ(sink.Rows[3].Items[mcNumber], "3");
  EXPECT_EQ(sink.Rows[2].Items[mcDeletionMark], "Deleted");
  EXPECT_FALSE(sink.Rows[2].Checked);
  EXPECT_THAT(sink.Rows[2].Items[mcSize], HasSubstr("!"));

  auto deleted = Records(DeletedRecordPath(home.Path(), FileName()));
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted[0].Number, "3!");
  EXPECT_EQ(deleted[0].DeletionMark, "Deleted");
  EXPECT_EQ(deleted[0].Size.back(), '!');
  EXPECT_TRUE(Records(SpamRecordPath(home.Path(), FileName())).empty());
  EXPECT_FALSE(std::filesystem::exists(home.Tmp() / "_m3@x_.msg"));
  EXPECT_TRUE(std::filesystem::exists(home.Tmp() / "deleted" / "_m3@x_.msg"));
  EXPECT_THAT(
      Report(),
      Contains("该信息已从服务器上删除！原因: 发件人地址特征串\"bad.example\"存在于黑名单中。"));
  // DELE takes effect once the server has read the QUIT.
  for (int i = 0; i < 50 && server.Messages("bob").size() != 3u; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(server.Messages("bob").size(), 3u);
  EXPECT_EQ(sink.Counters.at(0).DeletedCount, 1);
}

TEST_F(TWorkerFixture, AFailedConnectionSkipsOnlyThatAccount) {
  server.AddUser("bob", "pw", {Mail("a@example.org", "one", "<m1@x>")});
  server.Start();
  Run({Entry("bob", "wrong"), Entry("bob")});
  EXPECT_TRUE(sink.Said("bob@" + server.HostPort() + "访问失败！"));
  EXPECT_EQ(sink.Rows.size(), 1u);
  EXPECT_EQ(state.NewMailCount, 1);
}

TEST_F(TWorkerFixture, AMessageThatCannotBeFetchedIsJudgedEmpty) {
  server.AddUser("bob", "pw",
                 {Mail("a@example.org", "one", "<m1@x>"), Mail("b@example.org", "two", "<m2@x>")});
  server.ReplaceReply("TOP 1", "-ERR no such message");
  server.Start();
  Run({Entry("bob")});
  ASSERT_EQ(sink.Rows.size(), 2u);
  EXPECT_EQ(sink.Rows[0].Items[mcSubject], "");
  EXPECT_EQ(sink.Rows[0].Items[mcMessageKey], "");
  EXPECT_NE(sink.Rows[0].Items[mcSize], "      -1");  // LIST n still answered
  EXPECT_EQ(sink.Rows[1].Items[mcSubject], "two");
  EXPECT_TRUE(std::filesystem::exists(home.Tmp() / ".msg"));
}

TEST_F(TWorkerFixture, AFailureInTheAccountAbandonsItAndTheWorkerGoesOn) {
  test::TPop3Mailbox broken;
  broken.AddUser("bob", "pw", {Mail("a@example.org", "one", "<m1@x>")});
  broken.ReplaceReply("STAT", "+OK lots");
  broken.Start();
  server.AddUser("bob", "pw", {Mail("a@example.org", "fine", "<m9@x>")});
  server.Start();
  Run({broken.HostPort() + "|bob|pw", Entry("bob")});
  EXPECT_TRUE(sink.Said("bob[" + broken.HostPort() + "]检查新邮件信息失败!"));
  ASSERT_EQ(sink.Rows.size(), 1u);
  EXPECT_EQ(sink.Rows[0].Items[mcSubject], "fine");
}

TEST_F(TWorkerFixture, StopSendsRsetSoDeletionsOfThatSessionAreWithdrawn) {
  server.AddUser("bob", "pw",
                 {Mail("spam@bad.example", "one", "<m1@x>"), Mail("a@example.org", "two", "<m2@x>"),
                  Mail("a@example.org", "three", "<m3@x>")});
  server.Start();
  test::TPop3Mailbox second;
  second.AddUser("carol", "pw", {Mail("a@example.org", "x", "<c1@x>")});
  second.Start();
  ListFile("mrAddr.lst", "bad.example\r\n");
  plan.DeleteRubbish = true;
  OnWorker = [this](TCheckmail& w) {
    sink.OnState = [&w](const std::string& state) {
      if (state == "正在检查第 1 封邮件！")
        w.Terminate();
    };
  };
  Run({Entry("bob"), second.HostPort() + "|carol|pw"});

  ASSERT_EQ(sink.Rows.size(), 1u);
  EXPECT_EQ(sink.Rows[0].Items[mcDeletionMark], "Deleted");
  auto cmds = server.Commands();
  auto dele = std::find(cmds.begin(), cmds.end(), "DELE 1");
  auto rset = std::find(cmds.begin(), cmds.end(), "RSET");
  ASSERT_NE(dele, cmds.end());
  ASSERT_NE(rset, cmds.end());
  EXPECT_LT(dele, rset);
  EXPECT_EQ(server.Messages("bob").size(), 3u);  // the deletion was withdrawn
  // The record still says deleted, as the deletion looked done at the time.
  EXPECT_EQ(Records(DeletedRecordPath(home.Path(), FileName())).size(), 1u);
  // The next account is still connected and counted, but nothing is fetched.
  EXPECT_TRUE(sink.Said("检测到 1 封信件在" + second.HostPort() + "[carol] 中，共占用空间0Kb"));
  EXPECT_THAT(second.Commands(), Not(Contains("TOP 1 0")));
  EXPECT_THAT(second.Commands(), Contains("RSET"));
}

TEST_F(TWorkerFixture, FloodAlarmAnsweredNoLeavesTheMailboxAlone) {
  server.AddUser("bob", "pw",
                 {Mail("a@x.org", "1", "<1@x>"), Mail("a@x.org", "2", "<2@x>"),
                  Mail("a@x.org", "3", "<3@x>")});
  server.Start();
  plan.ClearMoreRubNum = 2;
  sink.Answer = false;
  Run({Entry("bob")});
  ASSERT_EQ(sink.Questions.size(), 1u);
  EXPECT_EQ(sink.Questions[0],
            "Warning!|在邮箱bob[" + server.HostPort() +
                "]中，\r信件数量多达 3 "
                "封\r可能你的邮箱被垃圾邮件轰炸了\r想从远程服务器中清空所有的邮件吗?"
                "\r一旦清除,则所有邮件都会被删除掉!\r真的要彻底清空信箱吗?");
  EXPECT_EQ(sink.Rows.size(), 3u);
  EXPECT_EQ(server.Messages("bob").size(), 3u);
}

TEST_F(TWorkerFixture, FloodAlarmAnsweredYesEmptiesTheMailboxAndCountsAgain) {
  server.AddUser("bob", "pw",
                 {Mail("a@x.org", "1", "<1@x>"), Mail("a@x.org", "2", "<2@x>"),
                  Mail("a@x.org", "3", "<3@x>")});
  server.Start();
  plan.ClearMoreRubNum = 2;
  sink.Answer = true;
  Run({Entry("bob")});
  ASSERT_EQ(sink.Questions.size(), 2u);
  EXPECT_EQ(sink.Questions[1], "Sure?|确实要清除所有信件吗？");
  EXPECT_TRUE(sink.Said(server.HostPort() + "[bob]Number: 3 deleted!"));
  EXPECT_TRUE(server.Messages("bob").empty());
  EXPECT_TRUE(sink.Rows.empty());  // the fresh count is 0: no empty messages judged
  EXPECT_TRUE(Report().empty());
  EXPECT_EQ(state.NewMailCount, 0);
}

TEST_F(TWorkerFixture, TheAlarmNeedsMoreThanTheThreshold) {
  server.AddUser("bob", "pw", {Mail("a@x.org", "1", "<1@x>"), Mail("a@x.org", "2", "<2@x>")});
  server.Start();
  plan.ClearMoreRubNum = 2;
  Run({Entry("bob")});
  EXPECT_TRUE(sink.Questions.empty());
  plan.ClearMoreRubNum = 1;
  plan.ClearMoreRub = false;
  Run({Entry("bob")});
  EXPECT_TRUE(sink.Questions.empty());
}

TEST_F(TWorkerFixture, WithoutCheckSummaryAccountsAreOnlyCounted) {
  server.AddUser("bob", "pw", {Mail("spam@bad.example", "1", "<1@x>")});
  server.Start();
  ListFile("mrAddr.lst", "bad.example\r\n");
  plan.CheckSummary = false;
  plan.DeleteRubbish = true;
  Run({Entry("bob")});
  EXPECT_TRUE(sink.Rows.empty());
  EXPECT_TRUE(Report().empty());
  EXPECT_EQ(state.NewMailCount, 1);
  EXPECT_EQ(server.Messages("bob").size(), 1u);
  EXPECT_THAT(server.Commands(), Not(Contains("TOP 1 0")));
}

TEST_F(TWorkerFixture, AnEmptyMailboxWritesNoBlockAndEmptiesItsRecordFiles) {
  server.AddUser("bob", "pw");
  server.Start();
  test::WriteAll(NewRecordPath(home.Path(), FileName()), std::string(3260, 'x'));
  Run({Entry("bob")});
  EXPECT_TRUE(Report().empty());
  EXPECT_EQ(std::filesystem::file_size(NewRecordPath(home.Path(), FileName())), 0u);
  EXPECT_TRUE(sink.Said("检测到 0 封信件在" + server.HostPort() + "[bob] 中，共占用空间0Kb"));
}

TEST_F(TWorkerFixture, AnEntryWithoutServerEndsTheWorker) {
  server.AddUser("bob", "pw", {Mail("a@x.org", "1", "<1@x>")});
  server.Start();
  Run({"no bars at all", Entry("bob")});
  EXPECT_TRUE(sink.Rows.empty());
  EXPECT_EQ(state.CheckQueue->size(), 1u);
  EXPECT_FALSE(state.QueueDrained);
  EXPECT_EQ(state.RunningWorkers, 0);
}

TEST_F(TWorkerFixture, ContentCheckFetchesWholeMessagesUnlessTooLarge) {
  const std::string big = Mail("a@x.org", "big", "<big@x>", std::string(300, 'b'));
  server.AddUser("bob", "pw", {Mail("a@x.org", "small", "<small@x>", "virus inside"), big});
  server.Start();
  ListFile("mrMid.lst", "virus\r\n");
  state.WholeMessage = 1;
  plan.checkSkipBytes = true;
  plan.SkipBytes = 0;  // every message is larger than 0 bytes: headers only
  Run({Entry("bob")});
  EXPECT_THAT(server.Commands(), Contains("TOP 1 0"));
  EXPECT_THAT(server.Commands(), Not(Contains("RETR 1")));

  plan.checkSkipBytes = false;
  sink.Rows.clear();
  Run({Entry("bob")});
  EXPECT_THAT(server.Commands(), Contains("RETR 1"));
  ASSERT_EQ(sink.Rows.size(), 2u);
  EXPECT_EQ(sink.Rows[0].Items[mcVerdictMark], "Yes");
  EXPECT_EQ(test::ReadAll(home.Tmp() / "_small@x_"), "virus inside\r\n");
  EXPECT_THAT(Report(), Contains("信件内文:"));
}

// A message whose LIST size (lines + CR LF each) is exactly `size` bytes.
std::string MailOfSize(const std::string& id, std::size_t size) {
  std::string head = "From: a@x.org\nSubject: s\nMessage-ID: " + id + "\n\n";
  std::size_t used = 0;
  for (char c : head)
    used += c == '\n' ? 2 : 1;
  return head + std::string(size - used - 2, 'b') + "\n";
}

TEST_F(TWorkerFixture, SkipBytesFetchesMessagesUpToTheLimitWhole) {
  server.AddUser("bob", "pw", {MailOfSize("<a@x>", 1000), MailOfSize("<b@x>", 1001)});
  server.Start();
  state.WholeMessage = 1;
  plan.checkSkipBytes = true;
  plan.SkipBytes = 1;
  Run({Entry("bob")});
  ASSERT_EQ(sink.Rows.size(), 2u);
  EXPECT_EQ(sink.Rows[0].Items[mcSize], "    1000");
  EXPECT_EQ(sink.Rows[1].Items[mcSize], "    1001");
  EXPECT_THAT(server.Commands(), Contains("RETR 1"));
  EXPECT_THAT(server.Commands(), Contains("TOP 2 0"));
  EXPECT_THAT(server.Commands(), Not(Contains("RETR 2")));
}

TEST_F(TWorkerFixture, PerMessageFilesHoldRawHeadersAndTheBodyInTheDiskEncoding) {
  const std::string gbText = "\xD6\xD0\xCE\xC4";  // "中文" in GB2312
  server.AddUser("bob", "pw",
                 {"From: a@x.org\nTo: bob@example.org\nSubject: =?GB2312?B?1tDOxA==?=\n"
                  "Message-ID: <mp@x>\nMIME-Version: 1.0\n"
                  "Content-Type: multipart/mixed; boundary=\"b1\"\n\n"
                  "--b1\nContent-Type: text/plain; charset=utf-8\n\nhello \xE4\xB8\xAD\n"
                  "--b1\nContent-Type: text/plain; charset=gb2312\n\n" +
                  gbText +
                  "\n--b1\nContent-Type: application/zip; name=\"a.zip\"\n"
                  "Content-Transfer-Encoding: base64\n\nUEsDBA==\n--b1--\n"});
  server.Start();
  state.WholeMessage = 1;
  Run({Entry("bob")});
  ASSERT_EQ(sink.Rows.size(), 1u);
  EXPECT_EQ(sink.Rows[0].Items[mcSubject], "中文");
  const std::string header = test::ReadAll(home.Tmp() / "_mp@x_.msg");
  EXPECT_EQ(header.substr(0, 30), "From: a@x.org\r\nTo: bob@example");
  EXPECT_NE(header.find("Subject: =?GB2312?B?1tDOxA==?=\r\n"), std::string::npos);
  // Text parts converted to GB18030, attachments as one line each.
  EXPECT_EQ(test::ReadAll(home.Tmp() / "_mp@x_"),
            "hello \xD6\xD0\r\n" + gbText + "\r\n" +
                ToAnsi("附件：a.zip[application/zip; name=\"a.zip\"]") + "\r\n");
}

TEST_F(TWorkerFixture, SplitsQueueEntries) {
  auto e = SplitQueueEntry(" pop.example.org | bob | p|w ");
  EXPECT_EQ(e.Server, "pop.example.org");
  EXPECT_EQ(e.User, "bob");
  EXPECT_EQ(e.Password, "p|w");
  EXPECT_EQ(SplitQueueEntry("nothing").Server, "");
}

}  // namespace
}  // namespace pelorix
