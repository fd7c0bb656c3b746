// The POP3 session against a real Dovecot server on loopback.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/mail_message.h"
#include "net/errors.h"
#include "net/pop3_session.h"
#include "support/dovecot.h"
#include "support/raised.h"

namespace pelorix {
namespace {

using test::Raised;
using test::TDovecotServer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> SampleMessages() {
  return {
      "From: Ann <ann@example.com>\nTo: alice@example.com\nSubject: first\n"
      "Message-Id: <m1@example.com>\n\nHello Alice.\n.hidden dot line\n",
      "From: spam@example.net\nTo: alice@example.com\nSubject: =?ISO-8859-1?Q?caf=E9?=\n"
      "Message-Id: <m2@example.com>\n\nBuy now.\n",
      "From: carl@example.org\nSubject: third\nMessage-Id: <m3@example.com>\n\nBye.\n",
  };
}

class Pop3DovecotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto why = TDovecotServer::SkipReason(); !why.empty()) {
      GTEST_SKIP() << why;
    }
    dovecot.AddUser("alice", "secret", SampleMessages());
    dovecot.AddUser("bob", "hunter2", {"Subject: only\n\nx\n"});
    dovecot.Start();
  }
  void Connect(const std::string& user, const std::string& password) {
    session.Host = dovecot.HostPort();
    session.Username = user;
    session.Password = password;
    session.Connect();
  }
  TDovecotServer dovecot;
  TPop3Session session;
  TMailMessage msg;
};

TEST_F(Pop3DovecotTest, CountsSizesAndHeaders) {
  Connect("alice", "secret");
  ASSERT_TRUE(session.IsConnected());
  ASSERT_EQ(session.MessageCount(), 3);
  long long sum = 0;
  for (int n = 1; n <= 3; ++n) {
    const long long size = session.MessageSize(n);
    // Dovecot counts CR LF line ends.
    const std::string text = SampleMessages()[static_cast<std::size_t>(n - 1)];
    EXPECT_EQ(size,
              static_cast<long long>(text.size() + std::count(text.begin(), text.end(), '\n')));
    sum += size;
  }
  EXPECT_EQ(session.MailboxSize(), sum);
  msg.Clear();
  ASSERT_TRUE(session.FetchHeader(2, msg));
  EXPECT_EQ(msg.Subject, "caf\xC3\xA9");
  EXPECT_EQ(msg.MessageId, "<m2@example.com>");
  EXPECT_THAT(msg.Body, ::testing::IsEmpty());
  msg.Clear();
  ASSERT_TRUE(session.FetchHeader(1, msg));
  EXPECT_EQ(msg.From.Address, "ann@example.com");
  EXPECT_EQ(msg.From.Name, "Ann");
  session.Disconnect();
}

TEST_F(Pop3DovecotTest, RetrReadsWholeMessage) {
  Connect("alice", "secret");
  msg.Clear();
  ASSERT_TRUE(session.FetchMessage(1, msg));
  EXPECT_EQ(msg.Subject, "first");
  EXPECT_THAT(msg.Body, ElementsAre("Hello Alice.", ".hidden dot line"));
  EXPECT_FALSE(session.FetchMessage(9, msg));
  // The session is still in step after the refused RETR.
  EXPECT_EQ(session.MessageCount(), 3);
  session.Disconnect();
}

TEST_F(Pop3DovecotTest, DeleteTakesEffectAtQuit) {
  Connect("alice", "secret");
  EXPECT_TRUE(session.DeleteMessage(2));
  EXPECT_THROW(session.DeleteMessage(2), EProtocolReplyError);  // already marked
  EXPECT_EQ(session.MessageCount(), 2);
  EXPECT_EQ(dovecot.MessageCount("alice"), 3u);  // nothing removed before QUIT
  session.Disconnect();
  // QUIT's answer is not read: give Dovecot a moment to commit.
  for (int i = 0; i < 100 && dovecot.MessageCount("alice") != 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const auto left = dovecot.Messages("alice");
  ASSERT_EQ(left.size(), 2u);
  EXPECT_THAT(left[0], HasSubstr("Subject: first"));
  EXPECT_THAT(left[1], HasSubstr("Subject: third"));
  EXPECT_EQ(dovecot.MessageCount("bob"), 1u);
}

TEST_F(Pop3DovecotTest, ResetWithdrawsDeletions) {
  Connect("alice", "secret");
  EXPECT_TRUE(session.DeleteMessage(1));
  EXPECT_TRUE(session.DeleteMessage(3));
  EXPECT_TRUE(session.ResetSession());
  EXPECT_EQ(session.MessageCount(), 3);
  session.Disconnect();
  // A new session sees every message: the QUIT was committed without deletions.
  Connect("alice", "secret");
  EXPECT_EQ(session.MessageCount(), 3);
  session.Disconnect();
  EXPECT_EQ(dovecot.MessageCount("alice"), 3u);
}

TEST_F(Pop3DovecotTest, WrongPasswordThenNextAccount) {
  session.Host = dovecot.HostPort();
  session.Username = "alice";
  session.Password = "wrong";
  const auto e = Raised<EProtocolReplyError>([&] { session.Connect(); });
  ASSERT_TRUE(e) << "wrong password accepted";
  EXPECT_EQ(e->ReplyCode, 2);
  EXPECT_THAT(e->what(), HasSubstr("Authentication failed"));
  EXPECT_FALSE(session.IsConnected());
  Connect("bob", "hunter2");
  EXPECT_EQ(session.MessageCount(), 1);
  session.Disconnect();
}

}  // namespace
}  // namespace pelorix
