// The check walk over a pipelining server must leave exactly what the
// sequential walk leaves: records, report, per-message files, rows and the
// server's mailbox, also with long lines, failures, stops and closes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "engine/check_worker.h"
#include "engine/origin.h"
#include "engine/record_files.h"
#include "engine/run_state.h"
#include "recording_sink.h"
#include "store/ip_table.h"
#include "support/dovecot.h"
#include "support/fake_server.h"
#include "test_home.h"

namespace pelorix {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;

const std::string kLongLine(200000, 'w');

std::string Mail(int i, const std::string& from, const std::string& extra = "",
                 const std::string& body = "hello") {
  const std::string n = std::to_string(i);
  return "Received: from a.example ([61.135.1." + n + "]) by b.example\nReceived: from b.example " +
         "([202.96.1.7]) by pop.example\nFrom: " + from + "\nTo: bob@example.org\nSubject: s" + n +
         "\nMessage-ID: <m" + n + "@x>\n" + extra + "\n" + body + "\n";
}

// Spam, long lines, a failing message, a large one, parts and no key.
std::vector<std::string> MixedMailbox() {
  std::vector<std::string> m;
  m.push_back(Mail(1, "a@example.org"));
  m.push_back(Mail(2, "spam@bad.example"));
  m.push_back(Mail(3, "c@example.org", "", kLongLine + "\nafter the long line"));
  m.push_back(Mail(4, "d@example.org"));  // answered -ERR
  m.push_back(Mail(5, "e@example.org", "", std::string(210000, 'L')));
  m.push_back(Mail(6, "spam@bad.example", "X-Wide: " + kLongLine + "\n"));
  m.push_back(Mail(7, "f@example.org",
                   "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n",
                   "--b\nContent-Type: text/plain\n\npart text\n--b\nContent-Type: "
                   "application/octet-stream; name=\"a.bin\"\nContent-Disposition: attachment; "
                   "filename=\"a.bin\"\nContent-Transfer-Encoding: base64\n\nAAEC\n--b--"));
  m.push_back("From: g@example.org\nSubject: no key\n\nbody\n");
  for (int i = 9; i <= 14; ++i)
    m.push_back(Mail(i, i % 4 == 0 ? "spam@bad.example" : "h@example.org"));
  return m;
}

// Everything a check leaves behind, the server's port taken out.
struct TOutcome {
  std::map<std::string, std::string> Files;  // tmp/ and tmp/deleted/, by relative name
  std::vector<std::vector<std::string>> Rows;
  std::vector<std::string> ServerLeft, States;
  bool operator==(const TOutcome&) const = default;
};

std::string Unport(std::string text, const std::string& port) {
  for (auto at = text.find(port); at != std::string::npos; at = text.find(port, at))
    text.replace(at, port.size(), "PORT");
  return text;
}

struct TCheckOnce {
  test::TTempHome home;
  TRunState state{home.Path()};
  test::TRecordingSink sink;

  TCheckOnce(const TMailPlan& plan, bool whole) {
    state.SetPlan(plan);
    state.WholeMessage = whole ? 1 : 0;
    state.ReadTimeoutMs = 10000;
    test::WriteAll(home.Tmp() / "mrAddr.lst", "bad.example\r\n");
    fs::create_directories(home.Path() / "modal");
    ExportIpTable(home.Path() / "modal" / "ip.dat",
                  {{"061.135.000.000", "061.135.255.255", "北京", "电信"}});
  }
  void Run(const std::string& hostPort) {
    state.CheckQueue = TAccountQueue{hostPort + "|bob|pw"};
    state.AccountCount = 1;
    state.RunningWorkers = 1;
    TCheckmail1 worker(state, sink);
    worker.Execute();
  }
  TOutcome Outcome(const test::TPop3Mailbox& box) {
    const std::string port = std::to_string(box.Port());
    TOutcome o;
    for (const auto& e : fs::recursive_directory_iterator(home.Tmp())) {
      if (e.is_regular_file())
        o.Files[Unport(fs::relative(e.path(), home.Tmp()).string(), port)] =
            Unport(test::ReadAll(e.path()), port);
    }
    for (const auto& row : sink.Rows) {
      std::vector<std::string> items(row.Items.begin(), row.Items.end());
      items.push_back(row.Checked ? "checked" : "");
      for (auto& item : items)
        item = Unport(item, port);
      o.Rows.push_back(items);
    }
    for (const auto& s : sink.States)
      o.States.push_back(Unport(s, port));
    o.ServerLeft = box.Messages("bob");
    return o;
  }
};

void WaitForQuits(const test::TPop3Mailbox& box, int quits) {
  for (int i = 0; i < 500 && box.Quits() < quits; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TMailPlan Plan() {
  TMailPlan plan;
  plan.CheckSummary = true;
  plan.ClearMoreRub = true;
  plan.ClearMoreRubNum = 10000;
  plan.DeleteRubbish = true;
  plan.checkSkipBytes = true;
  plan.SkipBytes = 205;  // message 5 (over 205,000 bytes) gets its header only
  return plan;
}

TEST(CheckPipeline, RecordsReportFilesAndRowsAreThoseOfTheSequentialWalk) {
  // One server for every run, so that the port in the records is the same.
  test::TPop3Mailbox box;
  box.ReplaceReply("TOP 4 ", "-ERR gone");
  box.ReplaceReply("RETR 4", "-ERR gone");
  box.Start();
  struct TWay {
    bool pipelining;
    std::size_t piece;
    bool batch;
  };
  int quits = 0;
  for (const bool whole : {false, true}) {
    std::vector<TOutcome> outcomes;
    for (const TWay way : {TWay{false, 0, false}, TWay{true, 0, true}, TWay{true, 7, false}}) {
      SCOPED_TRACE(testing::Message() << "whole " << whole << " pipelining " << way.pipelining
                                      << " piece " << way.piece);
      box.AddUser("bob", "pw", MixedMailbox());
      box.SetCapabilities(way.pipelining ? std::vector<std::string>{"TOP", "PIPELINING"}
                                         : std::vector<std::string>{});
      box.SetChunking(way.piece, way.batch);
      TCheckOnce check(Plan(), whole);
      check.Run(box.HostPort());
      WaitForQuits(box, ++quits);
      outcomes.push_back(check.Outcome(box));
      if (way.pipelining) {
        EXPECT_EQ(outcomes.back(), outcomes.front());
      }
    }
    // The reference itself: every message listed, spam gone, long lines whole.
    const TOutcome& ref = outcomes.front();
    ASSERT_EQ(ref.Rows.size(), 14u);
    EXPECT_EQ(ref.ServerLeft.size(), 14u - 3u);  // messages 2, 6 and 12 are spam
    EXPECT_EQ(ref.Rows[2][mcSubject], "s3");
    EXPECT_EQ(ref.Rows[3][mcSubject], "");  // -ERR: judged empty
    EXPECT_EQ(ref.Rows[4][mcSubject], "s5");
    EXPECT_EQ(ref.Rows[0][mcSenderRoute], "→...→(北京@电信)");
    EXPECT_EQ(ref.Rows[5][mcDeletionMark], "Deleted");
    if (whole) {
      EXPECT_NE(ref.Files.at("_m3@x_").find(kLongLine + "\r\nafter the long line"),
                std::string::npos);
      EXPECT_EQ(ref.Files.at("_m5@x_"), "");  // over SkipBytes: header only
      EXPECT_EQ(ref.Files.count("deleted/_m6@x_"), 1u);
    }
  }
}

struct TPipelineFixture : ::testing::Test {
  test::TPop3Mailbox box;
  TCheckOnce check{Plan(), false};

  void Serve(int count, int spamAt) {
    std::vector<std::string> mails;
    for (int i = 1; i <= count; ++i)
      mails.push_back(Mail(i, i == spamAt ? "spam@bad.example" : "a@example.org"));
    box.AddUser("bob", "pw", mails);
    box.SetCapabilities({"PIPELINING"});
    box.Start();
  }
  std::vector<std::string> Commands() {
    std::vector<std::string> c;
    for (const auto& line : box.Commands())
      if (line.rfind("USER", 0) != 0 && line.rfind("PASS", 0) != 0)
        c.push_back(line);
    return c;
  }
};

TEST_F(TPipelineFixture, AStopInTheWindowDrainsItThenResetsAndListsNoMore) {
  Serve(40, 2);
  TCheckmail1 worker(check.state, check.sink);
  check.sink.OnState = [&worker](const std::string& state) {
    if (state == "正在检查第 3 封邮件！")
      worker.Terminate();
  };
  check.state.CheckQueue = TAccountQueue{box.HostPort() + "|bob|pw"};
  check.state.RunningWorkers = 1;
  worker.Execute();
  WaitForQuits(box, 1);

  EXPECT_EQ(check.sink.Rows.size(), 3u);
  const auto commands = Commands();
  const auto rset = std::find(commands.begin(), commands.end(), "RSET");
  ASSERT_NE(rset, commands.end());
  const auto tops = std::count_if(commands.begin(), rset,
                                  [](const std::string& c) { return c.rfind("TOP", 0) == 0; });
  EXPECT_GT(tops, 3);  // commands were ahead of the answers
  EXPECT_THAT(std::vector<std::string>(rset, commands.end()), ElementsAre("RSET", "QUIT"));
  EXPECT_EQ(box.Messages("bob").size(), 40u);  // the DELE of message 2 withdrawn
}

TEST_F(TPipelineFixture, AServerClosingInTheWindowCostsTheRestOfTheAccountOnly) {
  Serve(30, 0);
  box.DropOn("TOP 7 ");
  check.Run(box.HostPort());
  EXPECT_EQ(check.sink.Rows.size(), 6u);
  EXPECT_TRUE(check.sink.Said("bob[" + box.HostPort() + "]检查新邮件信息失败!"));
  EXPECT_EQ(ReadRecordFile(NewRecordPath(check.home.Path(), "bob2" + box.HostPort()))->size(), 6u);
  EXPECT_EQ(box.Messages("bob").size(), 30u);  // no QUIT reached the server
}

TEST(CheckPipelineDovecot, DeleteRubbishRemovesExactlyTheSpam) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  std::vector<std::string> mails, kept;
  for (int i = 1; i <= 300; ++i) {
    mails.push_back(Mail(i, i % 7 == 3 ? "spam@bad.example" : "a@example.org",
                         i == 150 ? "X-Wide: " + kLongLine + "\n" : ""));
    if (i % 7 != 3)
      kept.push_back(mails.back());
  }
  dovecot.AddUser("bob", "pw", mails);
  dovecot.Start();
  TCheckOnce check(Plan(), true);
  check.Run(dovecot.HostPort());
  ASSERT_EQ(check.sink.Rows.size(), 300u);
  // QUIT's answer is not awaited: the server may still be committing.
  for (int i = 0; i < 50 && dovecot.MessageCount("bob") != kept.size(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto left = dovecot.Messages("bob");
  ASSERT_EQ(left.size(), kept.size());
  for (std::size_t i = 0; i < left.size(); ++i)
    EXPECT_EQ(left[i], kept[i]) << i;
}

TEST(IpLocationTable, OpenedOnceAndReopenedWhenTheFileInForceChanges) {
  test::TTempHome home;
  fs::create_directories(home.Path() / "modal");
  TIpLocationTable table(home.Path());
  table.Refresh();
  EXPECT_EQ(table.Lookup("061.135.001.002"), "");  // no table yet
  ExportIpTable(home.Path() / "modal" / "ip.dat",
                {{"061.135.000.000", "061.135.255.255", "北京", "电信"}});
  EXPECT_EQ(table.Lookup("061.135.001.002"), "");  // not looked for before the next account
  table.Refresh();
  EXPECT_EQ(table.Lookup("061.135.001.002"), "(北京@电信)");
  // The user's copy takes over; a save in place is seen as well.
  ExportIpTable(home.Path() / "modal" / "IPUSER.dat",
                {{"061.135.000.000", "061.135.255.255", "上海", "联通"}});
  table.Refresh();
  EXPECT_EQ(table.Lookup("061.135.001.002"), "(上海@联通)");
  ExportIpTable(home.Path() / "modal" / "IPUSER.dat",
                {{"061.000.000.000", "061.255.255.255", "广州", "移动"}});
  table.Refresh();
  EXPECT_EQ(table.Lookup("061.135.001.002"), "(广州@移动)");
}

}  // namespace
}  // namespace pelorix
