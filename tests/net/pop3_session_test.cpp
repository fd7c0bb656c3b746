#include "net/pop3_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "mime/mail_message.h"
#include "net/errors.h"
#include "net/sasl.h"
#include "support/fake_server.h"
#include "support/raised.h"

namespace pelorix {
namespace {

using namespace std::chrono_literals;
using test::Raised;
using test::TScriptServer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Without STLS in the CAPA answer the login goes on in plain text.
constexpr const char* kLogin =
    "S: +OK POP3 ready\n"
    "C: CAPA\n"
    "S: -ERR unknown command\n"
    "C: USER alice\n"
    "S: +OK\n"
    "C: PASS secret\n"
    "S: +OK logged in\n";

class Pop3SessionTest : public ::testing::Test {
 protected:
  // Runs the login, then `rest` of the transcript.
  void Login(std::string_view rest) {
    server.Script(kLogin).Script(rest);
    server.Start();
    session.Host = server.HostPort();
    session.Username = "alice";
    session.Password = "secret";
    session.ReadTimeout = 5000;
    session.Connect();
  }
  // Ends the session and checks the client followed the transcript.
  void Finish() {
    session.Disconnect();
    server.Wait();
    EXPECT_THAT(server.Errors(), IsEmpty());
  }
  TScriptServer server;
  TPop3Session session;
  TMailMessage msg;
};

TEST_F(Pop3SessionTest, DefaultsAndLogin) {
  EXPECT_EQ(TPop3Session().Port, 110);
  EXPECT_EQ(TPop3Session().ReadTimeout, 60000);
  Login("C: QUIT\n");
  EXPECT_TRUE(session.IsConnected());
  EXPECT_EQ(session.LastReply.NumericCode(), 1);
  EXPECT_THAT(session.LastReply.Text, ElementsAre("logged in"));
  Finish();
  EXPECT_FALSE(session.IsConnected());
}

TEST_F(Pop3SessionTest, RefusedPasswordRaisesServerTextAndDisconnects) {
  server.Script(
      "S: +OK ready\n"
      "C: CAPA\n"
      "S: +OK\n"
      "S: USER\n"
      "S: .\n"
      "C: USER alice\n"
      "S: +OK\n"
      "C: PASS wrong\n"
      "S: -ERR [AUTH] Authentication failed.\n"
      "C: QUIT\n");
  server.WaitClientClose().Accept().Script(kLogin).Expect("QUIT");
  server.Start();
  session.Host = server.HostPort();
  session.Username = "alice";
  session.Password = "wrong";
  const auto e = Raised<EProtocolReplyError>([&] { session.Connect(); });
  ASSERT_TRUE(e) << "refused login accepted";
  EXPECT_EQ(e->ReplyCode, 2);
  EXPECT_STREQ(e->what(), "[AUTH] Authentication failed.\r\n");
  EXPECT_FALSE(session.IsConnected());
  // The same session serves the next account.
  session.Password = "secret";
  session.Connect();
  EXPECT_TRUE(session.IsConnected());
  Finish();
}

TEST_F(Pop3SessionTest, ErrGreetingAndUnknownStatus) {
  server.Script("S: -ERR too busy\nC: QUIT\n").WaitClientClose().Accept();
  server.Script("S: HELLO there\nC: QUIT\n");
  server.Start();
  session.Host = server.HostPort();
  const auto refused = Raised<EProtocolReplyError>([&] { session.Connect(); });
  ASSERT_TRUE(refused) << "-ERR greeting accepted";
  EXPECT_STREQ(refused->what(), "too busy\r\n");
  EXPECT_FALSE(session.IsConnected());
  const auto unknown = Raised<EMailError>([&] { session.Connect(); });
  ASSERT_TRUE(unknown) << "unknown status accepted";
  EXPECT_STREQ(unknown->what(), "Unrecognized POP3 Response Header:\n\"O there\r\n\"");
  EXPECT_FALSE(session.IsConnected());
  server.Wait();
  EXPECT_THAT(server.Errors(), IsEmpty());
}

TEST_F(Pop3SessionTest, StatusTokenIgnoresCase) {
  server.Script("S: +ok hi\nC: CAPA\nS: -err\nC: USER alice\nS: -err no\nC: QUIT\n");
  server.Start();
  session.Host = server.HostPort();
  session.Username = "alice";
  EXPECT_THROW(session.Connect(), EProtocolReplyError);
  EXPECT_EQ(session.LastReply.NumericCode(), 2);
  server.Wait();
  EXPECT_THAT(server.Errors(), IsEmpty());
}

TEST_F(Pop3SessionTest, MessageCount) {
  Login(
      "C: STAT\nS: +OK 5 1200\n"
      "C: STAT\nS: +OK\n"
      "C: STAT\nS: +OK many 1200\n"
      "C: STAT\nS: +OK 5\n"
      "C: STAT\nS: -ERR not now\n"
      "C: QUIT\n");
  EXPECT_EQ(session.MessageCount(), 5);
  EXPECT_EQ(session.MessageCount(), 0);
  const auto e = Raised<EConvertError>([&] { session.MessageCount(); });
  ASSERT_TRUE(e) << "no conversion error";
  EXPECT_STREQ(e->what(), "'many' is not a valid integer value");
  EXPECT_THROW(session.MessageCount(), EConvertError);
  EXPECT_THROW(session.MessageCount(), EProtocolReplyError);
  Finish();
}

TEST_F(Pop3SessionTest, MailboxSizeSumsListingUpToDot) {
  Login(
      "C: LIST\nS: +OK 3 messages\nS: 1 100\nS: 2 200 extra\nS: 3\nS: 4 x\nS: .\n"
      "C: LIST\nS: -ERR no\n"
      "C: QUIT\n");
  EXPECT_EQ(session.MailboxSize(), 103);  // "200 extra" and "x" are not numbers
  EXPECT_EQ(session.MailboxSize(), -1);
  Finish();
}

TEST_F(Pop3SessionTest, EmptyLineEndsListingSumAndStreamStaysInStep) {
  Login(
      "C: LIST\nS: +OK\nS: 1 100\nS: \nS: 2 200\nS: .\n"
      "C: STAT\nS: +OK 2 300\n"
      "C: QUIT\n");
  EXPECT_EQ(session.MailboxSize(), 100);
  EXPECT_EQ(session.MessageCount(), 2);
  Finish();
}

TEST_F(Pop3SessionTest, MessageSize) {
  Login(
      "C: LIST 2\nS: +OK 2 320\n"
      "C: LIST 3\nS: +OK\n"
      "C: LIST 4\nS: +OK 4 big\n"
      "C: LIST 9\nS: -ERR no such message\n"
      "C: QUIT\n");
  EXPECT_EQ(session.MessageSize(2), 320);
  EXPECT_EQ(session.MessageSize(3), -1);
  EXPECT_EQ(session.MessageSize(4), -1);
  EXPECT_THROW(session.MessageSize(9), EProtocolReplyError);
  Finish();
}

TEST_F(Pop3SessionTest, FetchHeaderEndsAtDotWithoutBlankLine) {
  Login(
      "C: TOP 1 0\n"
      "S: +OK\n"
      "S: Subject: first\n"
      "S: From: Bob <bob@example.com>\n"
      "S: .\n"
      "C: TOP 2 0\n"
      "S: +OK\n"
      "S: Subject: second\n"
      "S: \n"
      "S: .\n"
      "C: TOP 3 0\n"
      "S: -ERR no such message\n"
      "C: QUIT\n");
  msg.Clear();
  EXPECT_TRUE(session.FetchHeader(1, msg));
  EXPECT_EQ(msg.Subject, "first");
  EXPECT_EQ(msg.From.Address, "bob@example.com");
  msg.Clear();
  EXPECT_TRUE(session.FetchHeader(2, msg));
  EXPECT_EQ(msg.Subject, "second");
  EXPECT_THROW(session.FetchHeader(3, msg), EProtocolReplyError);
  Finish();
}

TEST_F(Pop3SessionTest, FetchMessageReadsHeaderAndUnstuffedBody) {
  Login(
      "C: RETR 1\n"
      "S: +OK 120 octets\n"
      "S: Subject: hello\n"
      "S: \n"
      "S: line one\n"
      "S: ..dotted\n"
      "S: .\n"
      "C: RETR 2\n"
      "S: -ERR message 2 already deleted\n"
      "C: RETR 3\n"
      "S: +OK\n"
      "S: Subject: header only\n"
      "S: .\n"
      "C: QUIT\n");
  msg.Clear();
  EXPECT_TRUE(session.FetchMessage(1, msg));
  EXPECT_EQ(msg.Subject, "hello");
  EXPECT_THAT(msg.Body, ElementsAre("line one", ".dotted"));
  EXPECT_FALSE(session.FetchMessage(2, msg));
  msg.Clear();
  EXPECT_TRUE(session.FetchMessage(3, msg));
  EXPECT_EQ(msg.Subject, "header only");
  EXPECT_THAT(msg.Body, IsEmpty());
  Finish();
}

TEST_F(Pop3SessionTest, FailedBodyParseLeavesNextCommandItsAnswer) {
  Login(
      "C: RETR 1\n"
      "S: +OK\n"
      "S: Content-Type: multipart/mixed; boundary=\"xx\"\n"
      "S: \n"
      "S: --xx\n"
      "S: Content-Type: text/plain\n"
      "S: .\n"
      "C: STAT\nS: +OK 1 10\n"
      "C: QUIT\n");
  msg.Clear();
  EXPECT_THROW(session.FetchMessage(1, msg), EMailError);
  EXPECT_EQ(session.MessageCount(), 1);
  Finish();
}

TEST_F(Pop3SessionTest, DeleteAndReset) {
  Login(
      "C: DELE 1\nS: +OK marked\n"
      "C: DELE 7\nS: -ERR no such message\n"
      "C: RSET\nS: +OK\n"
      "C: QUIT\n");
  EXPECT_TRUE(session.DeleteMessage(1));
  EXPECT_THROW(session.DeleteMessage(7), EProtocolReplyError);
  EXPECT_TRUE(session.ResetSession());
  Finish();
}

TEST_F(Pop3SessionTest, DisconnectWhenNotConnectedWritesNothing) {
  std::vector<std::string> texts;
  session.OnStatus = [&](TConnectionStatus, const std::string& text) { texts.push_back(text); };
  EXPECT_NO_THROW(session.Disconnect());
  EXPECT_THAT(texts, ElementsAre("Disconnecting.", "Disconnected."));
  EXPECT_FALSE(session.IsConnected());
}

TEST_F(Pop3SessionTest, PeerGoneBeforeQuitStillCloses) {
  Login("");  // the server closes right after the login
  server.Wait();
  EXPECT_NO_THROW(session.Disconnect());
  EXPECT_FALSE(session.IsConnected());
}

TEST_F(Pop3SessionTest, SilentServerRaisesReadTimeout) {
  server.Script(kLogin).Expect("STAT").Stall(5s);
  server.Start();
  session.Host = server.HostPort();
  session.Username = "alice";
  session.Password = "secret";
  session.Connect();
  session.ReadTimeout = 100;
  EXPECT_THROW(session.MessageCount(), EReadTimeout);
}

TEST_F(Pop3SessionTest, ApopLogin) {
  // The exchange of RFC 1939 (its printed digest is a known erratum; this
  // one is MD5 of "<1896.697170952@dbc.mtview.ca.us>tanstaafl").
  server.Script(
      "S: +OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\n"
      "C: CAPA\nS: -ERR\n"
      "C: APOP mrose a6f0dd348916c9ee9539661f94c75203\n"
      "S: +OK maildrop has 1 message (369 octets)\n"
      "C: QUIT\n");
  server.WaitClientClose().Accept().Script("S: +OK no stamp here\nC: CAPA\nS: -ERR\nC: QUIT\n");
  server.Start();
  session.Host = server.HostPort();
  session.Username = "mrose";
  session.Password = "tanstaafl";
  session.APOP = true;
  session.Connect();
  session.Disconnect();
  const auto e = Raised<EMailError>([&] { session.Connect(); });
  ASSERT_TRUE(e) << "APOP without a time stamp";
  EXPECT_STREQ(e->what(), "Server do not support APOP (no timestamp)");
  EXPECT_FALSE(session.IsConnected());
  server.Wait();
  EXPECT_THAT(server.Errors(), IsEmpty());
}

TEST_F(Pop3SessionTest, SaslPlainWithInitialResponseAndMechanismNotOffered) {
  server.Script(
      "S: +OK ready\n"
      "C: CAPA\n"
      "S: +OK\nS: SASL PLAIN XOAUTH2\nS: .\n"
      "C: AUTH PLAIN " +
      SaslBase64(std::string("\0alice\0secret", 13)) +
      "\n"
      "S: +OK logged in\n"
      "C: QUIT\n");
  // Listed mechanisms without this one: nothing secret goes out.
  server.WaitClientClose().Accept().Script(
      "S: +OK ready\nC: CAPA\nS: +OK\nS: SASL PLAIN\nS: .\nC: QUIT\n");
  server.Start();
  session.Host = server.HostPort();
  session.Username = "alice";
  session.Password = "secret";
  session.Sasl = TSaslMechanism::Plain;
  session.Connect();
  session.Disconnect();
  session.Sasl = TSaslMechanism::OAuthBearer;
  const auto e = Raised<EMechanismNotOffered>([&] { session.Connect(); });
  ASSERT_TRUE(e) << "unlisted mechanism tried";
  EXPECT_STREQ(e->what(), "The server does not offer SASL OAUTHBEARER.");
  server.Wait();
  EXPECT_THAT(server.Errors(), IsEmpty());
}

TEST_F(Pop3SessionTest, LongXoauth2TokenWaitsForChallengeAndRefusalCarriesPayload) {
  const std::string token = "ya29." + std::string(300, 'A');
  const std::string first =
      "user=alice\x01"
      "auth=Bearer " +
      token + "\x01\x01";
  server.Script(
      "S: +OK ready\n"
      "C: CAPA\nS: -ERR\n"
      // Too long for the command line (255 octets): sent after "+".
      "C: AUTH XOAUTH2\n"
      "S: +\n"
      "C: " +
      SaslBase64(first) +
      "\n"
      "S: + " +
      SaslBase64(R"({"status":"401","schemes":"bearer","scope":"https://mail.google.com/"})") +
      "\n"
      "C: \n"
      "S: -ERR [AUTH] Invalid credentials\n"
      "C: QUIT\n");
  server.Start();
  session.Host = server.HostPort();
  session.Username = "alice";
  session.Password = token;
  session.Sasl = TSaslMechanism::XOAuth2;
  const auto e = Raised<EAuthRefused>([&] { session.Connect(); });
  ASSERT_TRUE(e) << "refused token accepted";
  EXPECT_EQ(e->ReplyCode, 2);
  EXPECT_EQ(e->Cause, "token expired or revoked (status 401, scope https://mail.google.com/)");
  EXPECT_THAT(e->what(), HasSubstr("[AUTH] Invalid credentials\r\n"));
  EXPECT_FALSE(session.IsConnected());
  server.Wait();
  EXPECT_THAT(server.Errors(), IsEmpty());
}

}  // namespace
}  // namespace pelorix
