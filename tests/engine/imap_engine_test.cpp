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
#include "store/oauth.h"
#include "store/oauth_account.h"
#include "store/settings_store.h"
#include "support/dovecot.h"
#include "support/oauth_server.h"
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

TEST(ImapOAuthEngineTest, WorkersRefreshTokensThemselvesAndARefusalCostsOnlyItsAccount) {
  if (auto why = test::TDovecotServer::ImapSkipReason(); !why.empty())
    GTEST_SKIP() << why;
  if (auto why = test::TOAuthServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TTempHome home;
  test::TOAuthServer oauth("client-1", "alice@example.com");
  oauth.Start();
  test::TDovecotServer dovecot;
  dovecot.AddUser("alice@example.com", "unused", {Mail(1, "a@example.org"), Mail(2, "b@x.org")});
  dovecot.AddUser("bob", "pw", {Mail(3, "c@example.org")});
  dovecot.EnableImap();
  dovecot.EnableOAuth2(oauth.Url("/introspect"));
  dovecot.Start();
  const std::string server = dovecot.ImapHostPort();
  const std::string alice = "alice@example.com[" + server + "]";
  const std::string carl = "carl@example.com[" + server + "]";

  auto store = TSettingsStore::Open(home.Path());
  ASSERT_TRUE(store);
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "OAuth\\custom", true, key));
  WriteTextValue(key, "ClientId", "client-1");
  WriteTextValue(key, "TokenEndpoint", oauth.Url("/token"));
  WriteTextValue(key, "DeviceEndpoint", oauth.Url("/device"));
  const TOAuthProvider provider = *FindOAuthProvider(*store, "custom");
  const auto device = StartDeviceAuthorization(provider, 0);
  test::TOAuthServer::BrowserGet(device.VerificationUriComplete);
  const auto signedIn = PollDeviceToken(provider, device.DeviceCode, 0);
  ASSERT_TRUE(signedIn.Ok) << signedIn.Cause();
  // Alice's access token has ended; Carl's refresh token is one the server refuses.
  ASSERT_TRUE(WriteAccountOAuthProvider(*store, alice, "custom"));
  ASSERT_TRUE(WriteOAuthTokens(*store, alice, {signedIn.RefreshToken, "ended", 1, ""}));
  ASSERT_TRUE(WriteAccountOAuthProvider(*store, carl, "custom"));
  ASSERT_TRUE(WriteOAuthTokens(*store, carl, {"revoked", "", 1, ""}));

  TRunState state{home.Path()};
  test::TRecordingSink sink;
  state.Store = store.get();
  state.ReadTimeoutMs = 10000;
  TMailPlan plan;
  plan.CheckSummary = true;
  state.SetPlan(plan);
  TConnectionPolicy policy;
  for (const std::string& account : {alice, carl, "bob[" + server + "]"}) {
    policy.Modes.emplace_back(account, "none");
    policy.Imap.emplace_back(account, EncodeImapSettings({"auto", {"INBOX"}}));
  }
  policy.Logins = {{alice, "oauthbearer"}, {carl, "xoauth2"}};
  state.SetPolicy(policy);
  state.CheckQueue = TAccountQueue{server + "|alice@example.com|", server + "|carl@example.com|",
                                   server + "|bob|pw"};
  state.AccountCount = 3;
  state.RunningWorkers = 1;
  TCheckmail1(state, sink).Execute();

  EXPECT_THAT(sink.Rows, SizeIs(3)) << dovecot.Log();
  EXPECT_THAT(
      sink.LogLines,
      Contains(HasSubstr("carl@example.com@" + server +
                         " 失败原因: 需要重新登录 (invalid_grant: Token has been revoked.)")));
  EXPECT_THAT(sink.LogLines, Contains(HasSubstr("pelorix account login " + carl)));
  const TStoredTokens kept = ReadOAuthTokens(*store, alice);
  EXPECT_NE(kept.Access, "ended");
  EXPECT_GT(kept.ExpiresAt, 1);
}

}  // namespace
}  // namespace pelorix
