// The check and deletion workers on an IMAP account of a real Dovecot: the
// same rows, records and copies as on POP3, and each way of deleting takes
// exactly the ticked messages and nothing else.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/check_worker.h"
#include "engine/delete_worker.h"
#include "engine/quarantine.h"
#include "engine/restore.h"
#include "net/imap_session.h"
#include "recording_sink.h"
#include "store/account_imap.h"
#include "support/dovecot.h"
#include "test_home.h"

namespace pelorix {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::SizeIs;

std::string Mail(int i, const std::string& from) {
  return "From: " + from + "\nTo: bob@example.org\nSubject: message " + std::to_string(i) +
         "\nMessage-ID: <m" + std::to_string(i) + "@x>\n\nbody " + std::to_string(i) + "\n";
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const auto& t : texts)
    all += t;
  return all;
}

struct ImapEngineTest : ::testing::Test {
  test::TTempHome home;
  TRunState state{home.Path()};
  test::TRecordingSink sink;
  TMailPlan plan;
  test::TDovecotServer dovecot;
  std::string entry, account;

  void SetUp() override {
    if (auto why = test::TDovecotServer::ImapSkipReason(); !why.empty())
      GTEST_SKIP() << why;
    plan.CheckSummary = true;
    plan.Quarantine = true;
    state.ReadTimeoutMs = 10000;
    std::vector<std::string> mails;
    for (int i = 1; i <= 6; ++i)
      mails.push_back(Mail(i, i % 2 == 0 ? "spam@bad.example" : "friend@example.org"));
    dovecot.AddUser("bob", "pw", mails);
    dovecot.EnableImap();
    dovecot.Start();
    entry = dovecot.ImapHostPort() + "|bob|pw";
    account = "bob[" + dovecot.ImapHostPort() + "]";
  }
  void Mode(const std::string& deleteMode) {
    TConnectionPolicy policy;
    policy.Modes = {{account, "none"}};
    policy.Imap = {{account, EncodeImapSettings({deleteMode, {"INBOX"}})}};
    state.SetPolicy(policy);
  }
  void Check(bool whole) {
    state.MailList.Clear();
    sink.Rows.clear();
    state.WholeMessage = whole ? 1 : 0;
    state.SetPlan(plan);
    state.CheckQueue = TAccountQueue{entry};
    state.AccountCount = 1;
    state.RunningWorkers = 1;
    TCheckmail1(state, sink).Execute();
  }
  // Exactly these rows ticked (the check ticks spam itself).
  void Tick(const std::vector<int>& numbers) {
    state.MailList.WithRows([&](std::vector<TMailRow>& rows) {
      for (TMailRow& row : rows) {
        row.Checked = std::any_of(numbers.begin(), numbers.end(), [&](int n) {
          return row.Items[mcMessageKey] == "<m" + std::to_string(n) + "@x>";
        });
      }
    });
  }
  void Delete() {
    TDeletionTally tally;
    state.SetPlan(plan);
    state.DeleteQueue = TAccountQueue{entry};
    state.RunningWorkers = 1;
    Tdeletemail1(state, sink, tally).Execute();
  }
  std::string Inbox() const { return Joined(dovecot.Messages("bob")); }
};

TEST_F(ImapEngineTest, HeaderCheckThenMoveToJunkTakesOnlyTheTickedMessages) {
  Mode("auto");
  test::WriteAll(home.Tmp() / "mrAddr.lst", "bad.example\r\n");
  Check(false);
  ASSERT_THAT(sink.Rows, SizeIs(6));
  EXPECT_EQ(sink.Rows[1].Items[mcSubject], "message 2");
  EXPECT_EQ(sink.Rows[1].Items[mcVerdictMark], "Yes");
  EXPECT_EQ(sink.Rows[0].Items[mcVerdictMark], "");
  EXPECT_THAT(state.MailList.Rows()[3].ServerRef, HasSubstr("imap:INBOX;UIDVALIDITY="));

  Tick({2, 4});
  // Another client delivers a message with a ticked one's Message-ID.
  dovecot.Deliver("bob", Mail(2, "late@example.org"));
  Delete();

  const std::string inbox = Inbox();
  EXPECT_EQ(dovecot.MessageCount("bob"), 5u);
  EXPECT_THAT(inbox, HasSubstr("late@example.org"));
  EXPECT_THAT(inbox, Not(HasSubstr("Subject: message 4")));
  const std::string junk = Joined(dovecot.Messages("bob", "Junk"));
  EXPECT_THAT(junk, HasSubstr("<m2@x>"));
  EXPECT_THAT(junk, HasSubstr("<m4@x>"));
  EXPECT_THAT(junk, Not(HasSubstr("late@example.org")));
  const auto rows = state.MailList.Rows();
  EXPECT_EQ(rows[1].Items[mcDeletionMark], "Deleted");
  EXPECT_EQ(rows[3].Items[mcDeletionMark], "Deleted");
  EXPECT_EQ(rows[0].Items[mcDeletionMark], "");

  // The copies kept before the move bring the messages back.
  const auto kept = ListQuarantine(home.Path());
  ASSERT_THAT(kept, SizeIs(2));
  EXPECT_EQ(kept[0].AccountKey, account);
  const auto mbox = home.Path() / "back.mbox";
  ASSERT_TRUE(AppendCopiesToMbox(kept, mbox));
  EXPECT_THAT(test::ReadAll(mbox), HasSubstr("Message-ID: <m4@x>"));
}

TEST_F(ImapEngineTest, DeleteForGoodLeavesAnotherClientsDeletedFlagAlone) {
  Mode("expunge");
  Check(true);
  ASSERT_THAT(sink.Rows, SizeIs(6));
  EXPECT_EQ(sink.Rows[2].Items[mcSubject], "message 3");
  // Another client flags message 5 \Deleted and leaves it for later.
  {
    TImapSession other;
    other.Host = dovecot.ImapHostPort();
    other.Security = TSecurity::None;
    other.Username = "bob";
    other.Password = "pw";
    other.Connect();
    other.Select("INBOX", false);
    other.Command("STORE 5 +FLAGS (\\Deleted)");
    other.Logout();
  }
  Tick({1});
  Delete();
  EXPECT_EQ(dovecot.MessageCount("bob"), 5u);
  EXPECT_THAT(Inbox(), Not(HasSubstr("<m1@x>")));
  EXPECT_THAT(Inbox(), HasSubstr("<m5@x>"));
  EXPECT_THAT(dovecot.Messages("bob", "Trash"), SizeIs(0));
  EXPECT_THAT(dovecot.Messages("bob", "Junk"), SizeIs(0));

  Mode("trash");
  Check(false);
  Tick({3});
  Delete();
  EXPECT_THAT(Inbox(), Not(HasSubstr("<m3@x>")));
  EXPECT_THAT(Joined(dovecot.Messages("bob", "Trash")), HasSubstr("<m3@x>"));
}

TEST_F(ImapEngineTest, ARenumberedFolderLosesNothing) {
  Mode("junk");
  Check(false);
  Tick({1, 2});
  dovecot.RenumberInbox("bob");
  Delete();
  EXPECT_EQ(dovecot.MessageCount("bob"), 6u);
  EXPECT_THAT(dovecot.Messages("bob", "Junk"), SizeIs(0));
  EXPECT_THAT(sink.LogLines, Contains(HasSubstr("UIDVALIDITY")));
  EXPECT_EQ(state.MailList.Rows()[0].Items[mcDeletionMark], "");
}

}  // namespace
}  // namespace pelorix
