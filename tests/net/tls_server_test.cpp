// POP3 and SMTP over TLS against real servers on loopback: Dovecot and
// aiosmtpd with a test CA and certificates made at run time.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "mime/mail_message.h"
#include "net/errors.h"
#include "net/pop3_session.h"
#include "net/sasl.h"
#include "net/smtp_client.h"
#include "support/dovecot.h"
#include "support/raised.h"
#include "support/smtp_server.h"
#include "support/tls_certs.h"

namespace pelorix {
namespace {

using test::Raised;
using test::TAioSmtpServer;
using test::TCertFiles;
using test::TDovecotServer;
using test::TTestCertificates;
using ::testing::HasSubstr;

class TlsDovecotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto why = TDovecotServer::SkipReason(); !why.empty()) {
      GTEST_SKIP() << why;
    }
    certs.TrustCa();
  }
  void Login(const std::string& host, TSecurity mode, const std::string& pin = {}) {
    session.Host = host;
    session.Security = mode;
    session.PinnedCertificate = pin;
    session.Username = "alice";
    session.Password = "secret";
    session.Connect();
  }
  TTestCertificates certs;
  TPop3Session session;
};

TEST_F(TlsDovecotTest, LoginOverImplicitTlsAndStls) {
  TDovecotServer dovecot;
  dovecot.AddUser("alice", "secret", {"Subject: one\n\nx\n", "Subject: two\n\ny\n"});
  dovecot.EnableTls(certs.Good().Cert, certs.Good().Key, true);
  dovecot.Start();
  const std::string plainPort = std::to_string(dovecot.Port());

  // Tiny reads leave most of each record inside OpenSSL, where poll cannot
  // see it: every answer must still arrive without waiting for more bytes.
  session.RecvBufferSize = 5;
  session.ReadTimeout = 10000;
  Login(dovecot.TlsHostPort(), TSecurity::Tls);
  ASSERT_TRUE(session.TlsActive());
  EXPECT_EQ(session.MessageCount(), 2);
  TMailMessage msg;
  ASSERT_TRUE(session.FetchHeader(2, msg));
  EXPECT_EQ(msg.Subject, "two");
  session.RecvBufferSize = 32768;
  ASSERT_TRUE(session.PeerCertificate());
  EXPECT_EQ(session.PeerCertificate()->Fingerprint,
            TTestCertificates::Fingerprint(certs.Good().Cert));
  EXPECT_THAT(session.PeerCertificate()->Subject, HasSubstr("CN=localhost"));
  EXPECT_EQ(session.PeerCertificate()->Problem, "");
  session.Disconnect();

  // Dovecot refuses plain logins from 127.0.0.2, so these prove the upgrade.
  const std::string remote = "127.0.0.2:" + plainPort;
  for (const TSecurity mode : {TSecurity::Auto, TSecurity::StartTls}) {
    Login(remote, mode);
    EXPECT_TRUE(session.TlsActive());
    EXPECT_FALSE(session.CapabilitiesKnown()) << "pre-upgrade CAPA kept";
    EXPECT_EQ(session.Capa().empty(), false);
    EXPECT_FALSE(session.HasCapability("STLS"));
    EXPECT_EQ(session.MessageCount(), 2);
    session.Disconnect();
  }
  const auto plain = Raised<EProtocolReplyError>([&] { Login(remote, TSecurity::None); });
  ASSERT_TRUE(plain) << "Dovecot accepted a plain login: the test proves nothing";
  EXPECT_FALSE(session.TlsActive());
}

TEST_F(TlsDovecotTest, SaslLoginOverTls) {
  TDovecotServer dovecot;
  dovecot.AddUser("alice", "secret", {"Subject: one\n\nx\n"});
  dovecot.EnableTls(certs.Good().Cert, certs.Good().Key, true);
  dovecot.Start();
  session.ReadTimeout = 10000;
  for (const TSaslMechanism mechanism : {TSaslMechanism::Plain, TSaslMechanism::Login}) {
    session.Sasl = mechanism;
    Login(dovecot.TlsHostPort(), TSecurity::Tls);
    EXPECT_EQ(session.MessageCount(), 1) << SaslMechanismName(mechanism);
    session.Disconnect();
  }
  session.Sasl = TSaslMechanism::Plain;
  session.Host = dovecot.TlsHostPort();
  session.Password = "wrong";
  const auto refused = Raised<EAuthRefused>([&] { session.Connect(); });
  ASSERT_TRUE(refused) << "wrong password accepted";
  EXPECT_THAT(refused->what(), HasSubstr("Authentication failed"));
  EXPECT_FALSE(session.IsConnected());
}

TEST_F(TlsDovecotTest, BadCertificatesRefusedUntilPinned) {
  struct TCase {
    const TCertFiles& Files;
    const char* Problem;
  };
  const TCase cases[] = {{certs.SelfSigned(), "self"},
                         {certs.Expired(), "certificate has expired"},
                         {certs.OtherName(), "mismatch"}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Problem);
    TDovecotServer dovecot;
    dovecot.AddUser("alice", "secret", {"Subject: one\n\nx\n"});
    dovecot.EnableTls(c.Files.Cert, c.Files.Key);
    dovecot.Start();
    const std::string stls = "127.0.0.1:" + std::to_string(dovecot.Port());
    const auto refused = Raised<ECertificateError>([&] { Login(stls, TSecurity::Auto); });
    ASSERT_TRUE(refused) << "bad certificate accepted";
    EXPECT_THAT(refused->Reason, HasSubstr(c.Problem));
    EXPECT_FALSE(session.IsConnected());

    const std::string pin = TTestCertificates::Fingerprint(c.Files.Cert);
    Login(dovecot.TlsHostPort(), TSecurity::Tls, pin);
    EXPECT_EQ(session.MessageCount(), 1);
    session.Disconnect();
    // A pin of another certificate fails even where the chain would pass.
    const auto stale = Raised<ECertificateError>([&] {
      Login(dovecot.TlsHostPort(), TSecurity::Tls,
            TTestCertificates::Fingerprint(certs.Good().Cert));
    });
    ASSERT_TRUE(stale) << "changed certificate accepted";
    EXPECT_THAT(stale->Reason, HasSubstr("no longer matches"));
  }
}

// aiosmtpd saves the message after answering "." : wait for the file.
std::vector<TAioSmtpServer::TReceived> WaitReceived(const TAioSmtpServer& server) {
  auto received = server.Received();
  for (int i = 0; i < 250 && received.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    received = server.Received();
  }
  return received;
}

TEST(TlsSmtpTest, ReplyOverStartTlsAndImplicitTlsWithLogin) {
  if (const auto why = TAioSmtpServer::SkipReason(); !why.empty()) {
    GTEST_SKIP() << why;
  }
  TTestCertificates certs;
  certs.TrustCa();
  for (const bool implicit : {false, true}) {
    SCOPED_TRACE(implicit ? "implicit" : "starttls");
    TAioSmtpServer server("alice", "pw");
    server.EnableTls(certs.Good().Cert, certs.Good().Key, implicit);
    server.Start();
    TSmtpClient client;
    client.Host = server.HostPort();
    client.Security = implicit ? TSecurity::Tls : TSecurity::Auto;
    client.AuthenticationType = atLogin;
    client.Username = "alice";
    client.Password = "pw";
    client.Connect();
    EXPECT_TRUE(client.TlsActive());
    // With STARTTLS the server lists AUTH only after the upgrade.
    EXPECT_THAT(client.AuthSchemes(), ::testing::Contains("LOGIN"));
    TMailMessage msg;
    msg.From = TEmailAddress{"", "alice@example.com"};
    msg.Recipients.Add(TEmailAddress{"", "bob@example.com"});
    msg.Subject = "over TLS";
    msg.Body = {"hello"};
    client.Send(msg);
    client.Disconnect();
    const auto received = WaitReceived(server);
    ASSERT_EQ(received.size(), 1u) << server.Log();
    EXPECT_EQ(received[0].Login, "alice");
    EXPECT_THAT(received[0].Content, HasSubstr("hello"));
  }
}

}  // namespace
}  // namespace pelorix
