// The login sequences' security rules against scripted plain-text servers:
// no secret before TLS, no downgrade, no plain bytes across the upgrade.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "net/errors.h"
#include "net/pop3_session.h"
#include "net/smtp_client.h"
#include "support/fake_server.h"
#include "support/raised.h"
#include "text/asciiutil.h"

namespace pelorix {
namespace {

using namespace std::chrono_literals;
using test::Raised;
using test::TScriptServer;
using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

TEST(TlsModeTest, NamesAndImplicitPorts) {
  for (const auto mode : {TSecurity::Auto, TSecurity::Tls, TSecurity::StartTls, TSecurity::None}) {
    EXPECT_EQ(ParseSecurity(" " + ascii::ToUpper(SecurityName(mode))), mode);
  }
  EXPECT_FALSE(ParseSecurity("ssl"));
  EXPECT_EQ(EffectiveSecurity(TSecurity::Auto, 995, 995), TSecurity::Tls);
  EXPECT_EQ(EffectiveSecurity(TSecurity::Auto, 110, 995), TSecurity::Auto);
  EXPECT_EQ(EffectiveSecurity(TSecurity::None, 995, 995), TSecurity::None);
  EXPECT_EQ(NormalizeFingerprint("ab:Cd 0f"), "ABCD0F");
}

class TlsScriptTest : public ::testing::Test {
 protected:
  void SetUp() override { server.StepTimeout = 5000ms; }
  template <typename S>
  void Point(S& client) {
    client.Host = server.HostPort();
    client.ReadTimeout = 5000;
  }
  void Done() {
    server.Wait();
    EXPECT_THAT(server.Errors(), IsEmpty());
  }
  TScriptServer server;
};

TEST_F(TlsScriptTest, RequiredUpgradeNotOfferedSendsNoSecret) {
  server.Script("S: +OK ready\nC: CAPA\nS: +OK\nS: USER\nS: .\nC: QUIT\n").WaitClientClose();
  server.Accept().Script(
      "S: 220 smtp.test\nC: EHLO client.test\nS: 250-smtp.test\nS: 250 AUTH LOGIN\nC: QUIT\n");
  server.Start();
  TPop3Session pop;
  Point(pop);
  pop.Security = TSecurity::StartTls;
  pop.Username = "alice";
  pop.Password = "secret";
  const auto e = Raised<ETlsNotOffered>([&] { pop.Connect(); });
  ASSERT_TRUE(e) << "plain login without the required STLS";
  EXPECT_EQ(e->Reason, "STLS");
  EXPECT_FALSE(pop.IsConnected());

  TSmtpClient smtp;
  Point(smtp);
  smtp.HeloName = "client.test";
  smtp.Security = TSecurity::StartTls;
  EXPECT_THROW(smtp.Connect(), ETlsNotOffered);
  Done();
  for (const auto& line : server.Received()) {
    EXPECT_THAT(line, Not(AnyOf(StartsWith("USER"), StartsWith("PASS"), StartsWith("AUTH"))));
  }
}

TEST_F(TlsScriptTest, OfferedUpgradeIsNeverDowngraded) {
  const char* offer = "S: +OK ready\nC: CAPA\nS: +OK\nS: STLS\nS: USER\nS: .\nC: STLS\n";
  // Refused after the offer; then plain bytes right behind the go-ahead.
  server.Script(offer).Script("S: -ERR not now\nC: QUIT\n").WaitClientClose();
  server.Accept().Script(offer).SendRaw("+OK begin TLS\r\n+OK injected\r\n").WaitClientClose();
  // SMTP: STARTTLS refused after EHLO listed it.
  server.Accept().Script(
      "S: 220 smtp.test\nC: EHLO client.test\nS: 250-smtp.test\nS: 250-AUTH LOGIN\n"
      "S: 250 STARTTLS\nC: STARTTLS\nS: 454 TLS not available\nC: QUIT\n");
  server.Start();
  TPop3Session pop;
  Point(pop);
  pop.Username = "alice";
  pop.Password = "secret";
  EXPECT_THROW(pop.Connect(), EProtocolReplyError);
  const auto injected = Raised<ETlsError>([&] { pop.Connect(); });
  ASSERT_TRUE(injected) << "plain bytes after STLS accepted";
  EXPECT_THAT(injected->Reason, HasSubstr("before the handshake"));
  EXPECT_FALSE(pop.IsConnected());

  TSmtpClient smtp;
  Point(smtp);
  smtp.HeloName = "client.test";
  smtp.AuthenticationType = atLogin;
  EXPECT_THROW(smtp.Connect(), EProtocolReplyError);
  Done();
  for (const auto& line : server.Received()) {
    EXPECT_THAT(line, Not(AnyOf(StartsWith("USER"), StartsWith("PASS"), StartsWith("AUTH"))));
  }
}

TEST_F(TlsScriptTest, StalledHandshakeFailsAtTheReadTimeout) {
  // Reads the ClientHello and answers nothing.
  server.Stall(3000ms);
  server.Start();
  TPop3Session pop;
  Point(pop);
  pop.ReadTimeout = 300;
  pop.Security = TSecurity::Tls;
  const auto e = Raised<ETlsError>([&] { pop.Connect(); });
  ASSERT_TRUE(e) << "stalled handshake did not fail";
  EXPECT_EQ(e->Reason, "Read Timeout");
  EXPECT_FALSE(pop.IsConnected());
}

}  // namespace
}  // namespace pelorix
