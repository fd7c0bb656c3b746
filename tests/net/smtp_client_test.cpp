#include "net/smtp_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "mime/mail_message.h"
#include "net/errors.h"
#include "net/sasl.h"
#include "support/fake_server.h"
#include "support/raised.h"

namespace pelorix {
namespace {

using test::Raised;
using test::TScriptServer;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

void FillReply(TMailMessage& msg) {
  msg.Clear();
  msg.From = TEmailAddress{"Alice", "alice@example.com"};
  msg.Recipients.Add(TEmailAddress{"", "bob@example.com"});
  msg.Subject = "Re: hello";
  msg.Body = {"Hi Bob,", ".", ".hidden", "bye"};
}

// The header lines of a DATA block (before its first empty line).
std::vector<std::string> HeaderOf(const std::vector<std::string>& data) {
  std::vector<std::string> header;
  for (const auto& line : data) {
    if (line.empty()) {
      break;
    }
    header.push_back(line);
  }
  return header;
}

class SmtpClientTest : public ::testing::Test {
 protected:
  void Start() {
    server.Start();
    client.Host = server.HostPort();
    client.HeloName = "client.test";
    client.ReadTimeout = 5000;
  }
  void Finish() {
    client.Disconnect();
    server.Wait();
    EXPECT_THAT(server.Errors(), IsEmpty());
  }
  TScriptServer server;
  TSmtpClient client;
  TMailMessage msg;
};

constexpr const char* kSendPlain =
    "C: RSET\nS: 250 OK\n"
    "C: MAIL FROM:<alice@example.com>\nS: 250 OK\n"
    "C: RCPT TO:<bob@example.com>\nS: 250 OK\n"
    "C: DATA\nS: 354 go ahead\n";

TEST_F(SmtpClientTest, EhloRefusedFallsBackToHelo) {
  server.Script(
      "S: 220 smtp.test ready\n"
      "C: EHLO client.test\n"
      "S: 500 unknown command\n"
      "C: HELO client.test\n"
      "S: 250 smtp.test\n"
      "C: QUIT\n");
  Start();
  EXPECT_EQ(client.Port, 25);
  client.Connect();
  EXPECT_THAT(client.AuthSchemes(), IsEmpty());
  Finish();
}

TEST_F(SmtpClientTest, BadGreetingRaisesAndDisconnects) {
  server.Script("S: 554 go away\nC: QUIT\n");
  Start();
  const auto e = Raised<EProtocolReplyError>([&] { client.Connect(); });
  ASSERT_TRUE(e) << "554 greeting accepted";
  EXPECT_EQ(e->ReplyCode, 554);
  EXPECT_STREQ(e->what(), "go away\r\n");
  EXPECT_FALSE(client.IsConnected());
  server.Wait();
  EXPECT_THAT(server.Errors(), IsEmpty());
}

TEST_F(SmtpClientTest, AuthEqualsLineEnablesLoginAndLoginHappensOnce) {
  server.Script(
      "S: 220 ready\n"
      "C: EHLO client.test\n"
      "S: 250-smtp.test\n"
      "S: 250-AUTH=LOGIN\n"
      "S: 250 8BITMIME\n"
      "C: RSET\nS: 250 OK\n"
      "C: AUTH LOGIN\nS: 334 VXNlcm5hbWU6\n"
      "C: YWxpY2U=\nS: 334 UGFzc3dvcmQ6\n"
      "C: czNjcmV0IQ==\nS: 235 Authentication successful\n"
      "C: MAIL FROM:<alice@example.com>\nS: 250 OK\n"
      "C: RCPT TO:<bob@example.com>\nS: 250 OK\n"
      "C: DATA\nS: 354 go ahead\n");
  server.ReadUntil(".").SendLine("250 queued");
  server.Script(kSendPlain);
  server.ReadUntil(".").SendLine("250 queued").Expect("QUIT");
  Start();
  client.AuthenticationType = atLogin;
  client.Username = "alice";
  client.Password = "s3cret!";
  client.Connect();
  EXPECT_THAT(client.AuthSchemes(), ElementsAre("LOGIN"));
  FillReply(msg);
  client.Send(msg);
  EXPECT_TRUE(client.Authenticated());
  client.Send(msg);
  Finish();
  EXPECT_FALSE(client.Authenticated());
}

TEST_F(SmtpClientTest, AuthLineSchemesAreCollectedWithoutDuplicates) {
  server.Script(
      "S: 220 ready\n"
      "C: EHLO client.test\n"
      "S: 250-smtp.test\n"
      "S: 250-AUTH LOGIN PLAIN\n"
      "S: 250-auth=login cram-md5\n"
      "S: 250 SIZE 1000\n"
      "C: QUIT\n");
  Start();
  client.Connect();
  EXPECT_THAT(client.AuthSchemes(), ElementsAre("LOGIN", "PLAIN", "CRAM-MD5"));
  Finish();
}

TEST_F(SmtpClientTest, NoAuthLineMeansNoLogin) {
  server.Script(
      "S: 220 ready\n"
      "C: EHLO client.test\n"
      "S: 250-smtp.test\n"
      "S: 250 SIZE 1000\n");
  server.Script(kSendPlain).ReadUntil(".").SendLine("250 queued").Expect("QUIT");
  Start();
  client.AuthenticationType = atLogin;
  client.Username = "alice";
  client.Connect();
  FillReply(msg);
  client.Send(msg);
  EXPECT_FALSE(client.Authenticated());
  Finish();
}

TEST_F(SmtpClientTest, DataBlockIsDotStuffedAndHasNoEmptyCc) {
  server.Script("S: 220 ready\nC: EHLO client.test\nS: 250 smtp.test\n");
  server.Script(kSendPlain).ReadUntil(".").SendLine("250 queued").Expect("QUIT");
  Start();
  client.Connect();
  FillReply(msg);
  client.Send(msg);
  Finish();
  const auto received = server.Received();
  const auto data = std::find(received.begin(), received.end(), "DATA");
  ASSERT_NE(data, received.end());
  const std::vector<std::string> block(data + 1, received.end() - 1);  // without QUIT
  const auto header = HeaderOf(block);
  EXPECT_THAT(header, Contains("From: \"Alice\" <alice@example.com>"));
  EXPECT_THAT(header, Contains("To: bob@example.com"));
  EXPECT_THAT(header, Contains("Subject: Re: hello"));
  EXPECT_THAT(header, Contains("Content-Type: text/plain; charset=\"UTF-8\""));
  EXPECT_THAT(header, Contains("Content-Transfer-Encoding: 7bit"));
  EXPECT_THAT(header, Contains("X-Priority: 3"));
  EXPECT_THAT(header, Contains(StartsWith("Date: ")));
  EXPECT_THAT(header, Not(Contains(StartsWith("Cc:"))));
  EXPECT_THAT(header, Not(Contains(StartsWith("X-Mailer:"))));
  const std::vector<std::string> body(block.begin() + static_cast<long>(header.size()) + 1,
                                      block.end());
  EXPECT_THAT(body, ElementsAre("Hi Bob,", "..", "..hidden", "bye", "."));
}

TEST_F(SmtpClientTest, CopiesGetRcptAndRefusalsRaise) {
  server.Script(
      "S: 220 ready\nC: EHLO client.test\nS: 250 smtp.test\n"
      "C: RSET\nS: 250 OK\n"
      "C: MAIL FROM:<alice@example.com>\nS: 250 OK\n"
      "C: RCPT TO:<bob@example.com>\nS: 251 will forward\n"
      "C: RCPT TO:<carl@example.com>\nS: 550 no such user\n"
      "C: QUIT\n");
  Start();
  client.Connect();
  FillReply(msg);
  msg.CCList.Add(TEmailAddress{"Carl", "carl@example.com"});
  const auto e = Raised<EProtocolReplyError>([&] { client.Send(msg); });
  ASSERT_TRUE(e) << "refused recipient accepted";
  EXPECT_EQ(e->ReplyCode, 550);
  EXPECT_STREQ(e->what(), "no such user\r\n");
  Finish();
}

TEST(SmtpDataText, Utf8HeadersAndBody) {
  TSmtpClient client;
  TMailMessage msg;
  FillReply(msg);
  msg.From = TEmailAddress{"张三", "zhang@example.com"};
  msg.Subject = "Re: 你好 世界 ok";
  msg.Organization = "Tolvane";
  msg.CCList.Add(TEmailAddress{"Bob \"B\"", "bob2@example.com"});
  msg.Body = {"第一行", "plain"};
  msg.Priority = TMessagePriority::mpHighest;
  client.MailAgent = "Pelorix";
  bool eightBit = true;
  const std::string data = client.DataText(msg, 0, eightBit);
  // Without 8BITMIME announced the body goes quoted-printable.
  EXPECT_FALSE(eightBit);
  EXPECT_THAT(data, HasSubstr("From: =?UTF-8?B?5byg5LiJ?= <zhang@example.com>\r\n"));
  EXPECT_THAT(data, HasSubstr("Subject: Re: =?UTF-8?B?5L2g5aW9IOS4lueVjA==?= ok\r\n"));
  EXPECT_THAT(data, HasSubstr("Cc: \"Bob \\\"B\\\"\" <bob2@example.com>\r\n"));
  EXPECT_THAT(data, HasSubstr("Organization: Tolvane\r\n"));
  EXPECT_THAT(data, HasSubstr("MIME-Version: 1.0\r\n"));
  EXPECT_THAT(data, HasSubstr("Content-Transfer-Encoding: quoted-printable\r\n"));
  EXPECT_THAT(data, HasSubstr("X-Priority: 1\r\n"));
  EXPECT_THAT(data, HasSubstr("X-Mailer: Pelorix\r\n"));
  EXPECT_THAT(data, HasSubstr("\r\n\r\n=E7=AC=AC=E4=B8=80=E8=A1=8C\r\nplain\r\n"));
}

TEST(SmtpDataText, LongHeaderLinesAreFolded) {
  TSmtpClient client;
  TMailMessage msg;
  FillReply(msg);
  for (int i = 0; i < 8; ++i) {
    msg.Recipients.Add(TEmailAddress{"", "recipient" + std::to_string(i) + "@example.com"});
  }
  bool eightBit = false;
  const std::string data = client.DataText(msg, 0, eightBit);
  const std::string header = data.substr(0, data.find("\r\n\r\n") + 2);
  std::size_t start = 0;
  bool continued = false;
  while (start < header.size()) {
    const auto end = header.find("\r\n", start);
    const std::string line = header.substr(start, end - start);
    EXPECT_LE(line.size(), 78u) << line;
    continued = continued || line.front() == ' ';
    start = end + 2;
  }
  EXPECT_TRUE(continued);
}

TEST(SmtpDataText, RawMessageGetsCrLfLineEndsAndDotStuffingOnly) {
  // A lone LF and a last line without end become CR LF; bare CR and 8-bit
  // bytes inside a line stay as they are.
  EXPECT_EQ(TSmtpClient::RawDataText("a\n.b\r\n..c\r\n\r\nx\ry \xE4\n.\r\nlast"),
            "a\r\n..b\r\n...c\r\n\r\nx\ry \xE4\r\n..\r\nlast\r\n");
  EXPECT_EQ(TSmtpClient::RawDataText(""), "");
}

TEST(SmtpHeaderText, EncodedWordsStayShortAndAsciiStaysPlain) {
  EXPECT_EQ(EncodeHeaderText("plain words only"), "plain words only");
  EXPECT_EQ(EncodeHeaderText(""), "");
  std::string longText;
  for (int i = 0; i < 40; ++i) {
    longText += "汉";
  }
  const std::string encoded = EncodeHeaderText("x " + longText);
  EXPECT_THAT(encoded, StartsWith("x =?UTF-8?B?"));
  std::size_t words = 0;
  for (std::size_t pos = encoded.find("=?"); pos != std::string::npos;
       pos = encoded.find("=?", pos + 2)) {
    const auto end = encoded.find("?=", pos + 10);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end + 2 - pos, 75u);
    ++words;
  }
  EXPECT_GT(words, 1u);  // 120 bytes do not fit one word
}

TEST(SmtpHeaderText, DateFormat) {
  const char* old = std::getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  setenv("TZ", "CST-8", 1);
  tzset();
  EXPECT_EQ(SmtpDateText(0), "Thu, 1 Jan 1970 08:00:00 +0800");
  setenv("TZ", "UTC0", 1);
  tzset();
  EXPECT_EQ(SmtpDateText(1070000000), "Fri, 28 Nov 2003 06:13:20 +0000");
  if (old != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST_F(SmtpClientTest, OAuthMechanismsLogInWithInitialResponseAndDecodeRefusals) {
  const char* ehlo =
      "S: 220 ready\n"
      "C: EHLO client.test\n"
      "S: 250-smtp.test\n"
      "S: 250 AUTH LOGIN PLAIN XOAUTH2 OAUTHBEARER\n";
  server.Script(ehlo)
      .Script("C: RSET\nS: 250 OK\n")
      .Script("C: AUTH XOAUTH2 " +
              SaslBase64("user=alice\x01"
                         "auth=Bearer tok\x01\x01") +
              "\n"
              "S: 235 2.7.0 Accepted\n")
      .Script(
          "C: MAIL FROM:<alice@example.com>\nS: 250 OK\n"
          "C: RCPT TO:<bob@example.com>\nS: 250 OK\n"
          "C: DATA\nS: 354 go ahead\n");
  server.ReadUntil(".").SendLine("250 queued").Expect("QUIT");
  server.WaitClientClose().Accept().Script(ehlo);
  const std::string bearer =
      "n,a=alice,\x01host=127.0.0.1\x01port=" + std::to_string(server.Port()) +
      "\x01"
      "auth=Bearer old\x01\x01";
  server.Script("C: RSET\nS: 250 OK\nC: AUTH OAUTHBEARER " + SaslBase64(bearer) +
                "\n"
                "S: 334 " +
                SaslBase64(R"({"status":"insufficient_scope","scope":"SMTP.Send"})") +
                "\n"
                "C: AQ==\n"
                "S: 535 5.7.8 Authentication failed\n"
                "C: QUIT\n");
  server.Start();
  client.Host = server.HostPort();
  client.HeloName = "client.test";
  client.ReadTimeout = 5000;
  client.AuthenticationType = atXOAuth2;
  client.Username = "alice";
  client.Password = "tok";
  client.Connect();
  FillReply(msg);
  client.Send(msg);
  EXPECT_TRUE(client.Authenticated());
  client.Disconnect();

  client.AuthenticationType = atOAuthBearer;
  client.Password = "old";
  client.Connect();
  const auto e = Raised<EAuthRefused>([&] { client.Send(msg); });
  ASSERT_TRUE(e) << "refused token accepted";
  EXPECT_EQ(e->ReplyCode, 535);
  EXPECT_EQ(e->Cause, "invalid scope (status insufficient_scope, scope SMTP.Send)");
  Finish();
}

}  // namespace
}  // namespace pelorix
