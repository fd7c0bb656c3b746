// The POP3 session against the in-memory test mailbox (which the engine's
// worker tests rely on as well).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/mail_message.h"
#include "net/errors.h"
#include "net/pop3_session.h"
#include "support/fake_server.h"
#include "support/raised.h"

namespace pelorix {
namespace {

using test::Raised;
using test::TPop3Mailbox;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class Pop3MailboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mailbox.AddUser("alice", "secret",
                    {"Subject: one\r\nFrom: a@example.com\r\n\r\nfirst body\r\n",
                     "Subject: two\n\n.dot line\nsecond\n", "Subject: three\n\nthird\n"});
    mailbox.AddUser("bob", "pw");
    mailbox.Start();
  }
  void Connect(TPop3Session& session, const std::string& user, const std::string& password) {
    session.Host = mailbox.HostPort();
    session.Username = user;
    session.Password = password;
    session.ReadTimeout = 5000;
    session.Connect();
  }
  TPop3Mailbox mailbox;
  TPop3Session session;
  TMailMessage msg;
};

TEST_F(Pop3MailboxTest, ReadsCountsSizesHeadersAndBodies) {
  Connect(session, "alice", "secret");
  EXPECT_EQ(session.MessageCount(), 3);
  // Sizes count CR LF line ends.
  EXPECT_EQ(session.MessageSize(1), 49);
  EXPECT_EQ(session.MailboxSize(), 49 + 35 + 25);
  msg.Clear();
  ASSERT_TRUE(session.FetchHeader(2, msg));
  EXPECT_EQ(msg.Subject, "two");
  EXPECT_THAT(msg.Body, ::testing::IsEmpty());
  msg.Clear();
  ASSERT_TRUE(session.FetchMessage(2, msg));
  EXPECT_THAT(msg.Body, ElementsAre(".dot line", "second"));
  EXPECT_FALSE(session.FetchMessage(4, msg));
  session.Disconnect();
}

TEST_F(Pop3MailboxTest, DeletionsCommitAtQuitOnly) {
  Connect(session, "alice", "secret");
  session.DeleteMessage(1);
  session.DeleteMessage(3);
  EXPECT_EQ(session.MessageCount(), 1);
  session.ResetSession();
  session.DeleteMessage(2);
  session.Disconnect();
  for (int i = 0; i < 200 && mailbox.Quits() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto left = mailbox.Messages("alice");
  ASSERT_EQ(left.size(), 2u);
  EXPECT_THAT(left[0], HasSubstr("Subject: one"));
  EXPECT_THAT(left[1], HasSubstr("Subject: three"));
  // A connection that ends without QUIT deletes nothing.
  TPop3Session other;
  Connect(other, "alice", "secret");
  other.DeleteMessage(1);
  other.TLineClient::Disconnect();
  Connect(session, "alice", "secret");
  EXPECT_EQ(session.MessageCount(), 2);
  session.Disconnect();
}

TEST_F(Pop3MailboxTest, WrongPasswordAndLockedMailbox) {
  EXPECT_THROW(Connect(session, "alice", "nope"), EProtocolReplyError);
  Connect(session, "alice", "secret");
  TPop3Session second;
  const auto e = Raised<EProtocolReplyError>([&] { Connect(second, "alice", "secret"); });
  ASSERT_TRUE(e) << "mailbox not locked";
  EXPECT_THAT(e->what(), HasSubstr("IN-USE"));
  Connect(second, "bob", "pw");
  EXPECT_EQ(second.MessageCount(), 0);
  second.Disconnect();
  session.Disconnect();
  EXPECT_EQ(mailbox.Connections(), 4);
}

TEST_F(Pop3MailboxTest, InjectedFaults) {
  mailbox.ReplaceReply("STAT", "+OK 7 700");
  mailbox.ReplaceReply("LIST 2", "-ERR gone");
  mailbox.DropOn("TOP 3");
  Connect(session, "alice", "secret");
  EXPECT_EQ(session.MessageCount(), 7);
  EXPECT_THROW(session.MessageSize(2), EProtocolReplyError);
  EXPECT_THROW(session.FetchHeader(3, msg), EConnClosedGracefully);
  session.Disconnect();
  EXPECT_THAT(mailbox.Commands(),
              ElementsAre("CAPA", "USER alice", "PASS secret", "STAT", "LIST 2", "TOP 3 0"));
}

TEST_F(Pop3MailboxTest, StalledCommandEndsInReadTimeout) {
  mailbox.StallOn("RETR");
  Connect(session, "alice", "secret");
  session.ReadTimeout = 100;
  EXPECT_THROW(session.FetchMessage(1, msg), EReadTimeout);
  session.Disconnect();
}

}  // namespace
}  // namespace pelorix
