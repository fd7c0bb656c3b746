// The SMTP client against a real aiosmtpd server on loopback.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "mime/mail_message.h"
#include "net/errors.h"
#include "net/smtp_client.h"
#include "support/raised.h"
#include "support/smtp_server.h"

namespace pelorix {
namespace {

using test::Raised;
using test::TAioSmtpServer;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;

// aiosmtpd saves the message after answering "." : wait for the file.
std::vector<TAioSmtpServer::TReceived> WaitReceived(const TAioSmtpServer& server,
                                                    std::size_t count) {
  auto received = server.Received();
  for (int i = 0; i < 250 && received.size() < count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    received = server.Received();
  }
  return received;
}

class SmtpAiosmtpdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto why = TAioSmtpServer::SkipReason(); !why.empty()) {
      GTEST_SKIP() << why;
    }
    msg.From = TEmailAddress{"Alice 李", "alice@example.com"};
    msg.Recipients.Add(TEmailAddress{"Bob", "bob@example.com"});
    msg.CCList.Add(TEmailAddress{"", "carl@example.com"});
    msg.Subject = "Re: 会议 tomorrow";
    msg.Body = {"Dear Bob,", ".", "..two dots", "中文行", "", "-- ", "Alice"};
  }
  TSmtpClient client;
  TMailMessage msg;
};

TEST_F(SmtpAiosmtpdTest, LoginAndMessageArrivesWhole) {
  TAioSmtpServer server("alice", "p@ss word");
  server.Start();
  client.Host = server.HostPort();
  client.AuthenticationType = atLogin;
  client.Username = "alice";
  client.Password = "p@ss word";
  client.Connect();
  EXPECT_THAT(client.AuthSchemes(), ::testing::Contains("LOGIN"));
  client.Send(msg);
  EXPECT_TRUE(client.Authenticated());
  client.Disconnect();

  const auto received = WaitReceived(server, 1);
  ASSERT_EQ(received.size(), 1u) << server.Log();
  EXPECT_EQ(received[0].Login, "alice");
  EXPECT_EQ(received[0].MailFrom, "alice@example.com");
  EXPECT_THAT(received[0].RcptTos, ElementsAre("bob@example.com", "carl@example.com"));
  const std::string& content = received[0].Content;
  EXPECT_THAT(content, HasSubstr("Subject: Re: =?UTF-8?B?5Lya6K6u?= tomorrow\r\n"));
  EXPECT_THAT(content, HasSubstr("To: \"Bob\" <bob@example.com>\r\n"));
  EXPECT_THAT(content, HasSubstr("Cc: carl@example.com\r\n"));
  EXPECT_THAT(content, HasSubstr("Content-Type: text/plain; charset=\"UTF-8\"\r\n"));
  // aiosmtpd announces 8BITMIME: the UTF-8 body travels as it is.
  EXPECT_THAT(content, HasSubstr("Content-Transfer-Encoding: 8bit\r\n"));
  EXPECT_THAT(content,
              EndsWith("\r\n\r\nDear Bob,\r\n.\r\n..two dots\r\n中文行\r\n\r\n-- \r\nAlice\r\n"));
}

TEST_F(SmtpAiosmtpdTest, WrongPasswordIsRefused) {
  TAioSmtpServer server("alice", "right");
  server.Start();
  client.Host = server.HostPort();
  client.AuthenticationType = atLogin;
  client.Username = "alice";
  client.Password = "wrong";
  client.Connect();
  const auto e = Raised<EProtocolReplyError>([&] { client.Send(msg); });
  ASSERT_TRUE(e) << "wrong password accepted";
  EXPECT_EQ(e->ReplyCode, 535);
  client.Disconnect();
  EXPECT_TRUE(server.Received().empty());
}

TEST_F(SmtpAiosmtpdTest, WithoutLoginAndTwoMessagesOnOneConnection) {
  TAioSmtpServer server;
  server.Start();
  client.Host = server.HostPort();
  client.Connect();
  client.Send(msg);
  msg.Subject = "second";
  client.Send(msg);
  EXPECT_FALSE(client.Authenticated());
  client.Disconnect();
  const auto received = WaitReceived(server, 2);
  ASSERT_EQ(received.size(), 2u) << server.Log();
  EXPECT_EQ(received[0].Login, "");
  EXPECT_THAT(received[1].Content, HasSubstr("Subject: second\r\n"));
}

}  // namespace
}  // namespace pelorix
