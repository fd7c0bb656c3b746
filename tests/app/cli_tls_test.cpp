// Encrypted connections from the command line: the security modes and pins
// as stored, and whole check and deletion runs over TLS against Dovecot.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "app/commands.h"
#include "cli_fixture.h"
#include "engine/mail_record.h"
#include "engine/record_files.h"
#include "store/connection_security.h"
#include "store/oauth.h"
#include "store/oauth_account.h"
#include "store/settings_store.h"
#include "support/dovecot.h"
#include "support/oauth_server.h"
#include "support/scoped_env.h"
#include "support/tls_certs.h"

namespace pelorix {
namespace {

namespace fs = std::filesystem;
using test::TDovecotServer;
using test::TTestCertificates;
using ::testing::HasSubstr;
using ::testing::Not;

using test::TRun;

class TlsCommands : public test::TCliFixture {
 protected:
  // Runs a command that must succeed and hands back its output.
  std::string Ok(std::vector<std::string> args) {
    const TRun r = Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
};

std::string Mail(const std::string& id) {
  return "From: x@example.org\nTo: u@example.org\nSubject: s" + id + "\nMessage-ID: <" + id +
         "@x>\n\nbody\n";
}

TEST_F(TlsCommands, ModesAreStoredBesideTheAccounts) {
  Ok({"account", "add", "--server", "pop.example.com:995", "--user", "ann", "--password", "p",
      "--security", "TLS"});
  Ok({"account", "add", "--server", "pop.example.com", "--user", "ben", "--password", "p"});
  EXPECT_EQ(Ok({"account", "list"}), "pop.example.com\tben\t\npop.example.com:995\tann\t\n");
  EXPECT_EQ(Ok({"account", "security", "ann[pop.example.com:995]"}), "tls\n");
  EXPECT_EQ(Ok({"account", "security", "ben[pop.example.com]"}), "auto\n");
  Ok({"account", "security", "ben[pop.example.com]", "starttls"});
  EXPECT_EQ(Ok({"account", "security", "ben[pop.example.com]"}), "starttls\n");
  // Re-adding without --security keeps the mode; removing forgets it.
  Ok({"account", "add", "--server", "pop.example.com", "--user", "ben", "--password", "q"});
  EXPECT_EQ(Ok({"account", "security", "ben[pop.example.com]"}), "starttls\n");
  Ok({"account", "remove", "--server", "pop.example.com", "--user", "ben"});
  Ok({"account", "add", "--server", "pop.example.com", "--user", "ben", "--password", "q"});
  EXPECT_EQ(Ok({"account", "security", "ben[pop.example.com]"}), "auto\n");

  EXPECT_EQ(Run({"account", "security", "ben[pop.example.com]", "ssl"}).status, 2);
  EXPECT_EQ(Run({"account", "security", "nobody[pop.example.com]"}).status, 1);
  EXPECT_EQ(Run({"account", "add", "--server", "h", "--user", "u", "--password", "p", "--security",
                 "sometimes"})
                .status,
            2);
  EXPECT_EQ(Ok({"get", "Smtp", "Security"}), "auto\n");
  Ok({"set", "smtp", "security", "StartTLS"});
  EXPECT_EQ(Ok({"get", "Smtp", "Security"}), "starttls\n");
  EXPECT_EQ(Run({"set", "Smtp", "Security", "maybe"}).status, 2);
  EXPECT_EQ(Run({"tls", "untrust", "pop.example.com:995"}).status, 1);
}

TEST_F(TlsCommands, SaslLoginMethodsPerAccount) {
  if (auto why = TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  TTestCertificates certs;
  certs.TrustCa();
  TDovecotServer dovecot;
  dovecot.AddUser("ann", "pw1", {Mail("a1")});
  dovecot.AddUser("ben", "pw2", {Mail("b1")});
  dovecot.EnableTls(certs.Good().Cert, certs.Good().Key, true);
  dovecot.Start();
  const std::string server = "127.0.0.2:" + std::to_string(dovecot.TlsPort());
  Ok({"account", "add", "--server", server, "--user", "ann", "--password", "pw1", "--security",
      "tls", "--auth", "PLAIN"});
  Ok({"account", "add", "--server", server, "--user", "ben", "--password", "bad", "--security",
      "tls"});
  Ok({"account", "auth", "ben[" + server + "]", "login"});
  EXPECT_EQ(Ok({"account", "auth", "ann[" + server + "]"}), "plain\n");
  EXPECT_EQ(Run({"account", "auth", "ann[" + server + "]", "cram-md5"}).status, 2);
  Ok({"set", "MailCheck", "CheckSummary", "on"});
  const TRun check = Run({"check"});
  ASSERT_EQ(check.status, 0) << check.err;
  EXPECT_THAT(check.err, Not(HasSubstr("ann@" + server + "访问失败")));
  EXPECT_THAT(check.err, HasSubstr("ben@" + server + " 失败原因: "));
  EXPECT_THAT(check.err, HasSubstr("Authentication failed"));
  const auto records = ReadRecordFile(AllRecordPath(home_)).value_or(std::vector<TMailRecord>{});
  EXPECT_EQ(records.size(), 1u) << check.err;
  // Removing the account forgets its method.
  Ok({"account", "remove", "--server", server, "--user", "ann"});
  Ok({"account", "add", "--server", server, "--user", "ann", "--password", "pw1"});
  EXPECT_EQ(Ok({"account", "auth", "ann[" + server + "]"}), "user\n");
  EXPECT_EQ(Ok({"get", "Smtp", "authMechanism"}), "login\n");
  Ok({"set", "Smtp", "authMechanism", "XOAUTH2"});
  EXPECT_EQ(Ok({"get", "Smtp", "authMechanism"}), "xoauth2\n");
}

TEST_F(TlsCommands, OAuthAccountSignsInChecksWithBearerTokensAndRefreshesThem) {
  if (auto why = TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  if (auto why = test::TOAuthServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  TTestCertificates certs;
  certs.TrustCa();
  // Tokens live two seconds: every check finds its token near its end.
  test::TOAuthServer oauth("client-1", "alice@example.com", 2);
  oauth.Start();
  TDovecotServer dovecot;
  dovecot.AddUser("alice@example.com", "unused", {Mail("o1"), Mail("o2")});
  dovecot.AddUser("ben", "pw2", {Mail("b1")});
  dovecot.EnableTls(certs.Good().Cert, certs.Good().Key, true);
  dovecot.EnableOAuth2(oauth.Url("/introspect"));
  dovecot.Start();
  const std::string server = "127.0.0.2:" + std::to_string(dovecot.TlsPort());
  {
    auto store = TSettingsStore::Open(home_);
    TSettingsKey key;
    ASSERT_TRUE(OpenSettingsKey(*store, "OAuth\\custom", true, key));
    WriteTextValue(key, "ClientId", "client-1");
    WriteTextValue(key, "AuthorizationEndpoint", oauth.Url("/authorize"));
    WriteTextValue(key, "TokenEndpoint", oauth.Url("/token"));
    WriteTextValue(key, "DeviceEndpoint", oauth.Url("/device"));
    WriteTextValue(key, "RevocationEndpoint", oauth.Url("/revoke"));
    WriteTextValue(key, "Scope", "mail");
  }
  const std::string key = "alice@example.com[" + server + "]";
  EXPECT_EQ(Run({"account", "add", "--oauth", "custom", "--user", "alice@example.com"}).status, 2);
  Ok({"account", "add", "--oauth", "custom", "--user", "alice@example.com", "--server", server});
  Ok({"account", "add", "--server", server, "--user", "ben", "--password", "pw2", "--security",
      "tls", "--auth", "plain"});
  EXPECT_EQ(Ok({"account", "auth", key}), "oauthbearer\n");
  EXPECT_EQ(Ok({"account", "security", key}), "tls\n");
  Ok({"set", "MailCheck", "CheckSummary", "on"});

  // Not signed in yet: only that account fails, and says what to do.
  TRun check = Run({"check"});
  ASSERT_EQ(check.status, 0) << check.err;
  EXPECT_THAT(check.err,
              HasSubstr("需要重新登录 (not signed in)：请运行 pelorix account login " + key));
  EXPECT_THAT(check.err, Not(HasSubstr("ben@" + server + "访问失败")));

  // The browser (a test double following the redirects) signs in.
  test::TScopedEnv browser("BROWSER", "curl -sL -o /dev/null");
  const TRun login = Run({"account", "login", key, "--browser"});
  ASSERT_EQ(login.status, 0) << login.err << oauth.Log();
  EXPECT_THAT(login.out, HasSubstr(oauth.Url("/authorize?response_type=code")));
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // the first token has ended
  check = Run({"check"});
  ASSERT_EQ(check.status, 0) << check.err;
  EXPECT_THAT(check.err, Not(HasSubstr("访问失败"))) << dovecot.Log();
  auto records = ReadRecordFile(AllRecordPath(home_)).value_or(std::vector<TMailRecord>{});
  EXPECT_EQ(records.size(), 3u) << check.err;

  // Signed out (revoked): that account alone asks for a new sign-in.
  Ok({"account", "logout", key});
  check = Run({"check"});
  EXPECT_THAT(check.err,
              HasSubstr(key.substr(0, key.find('[')) + "@" + server + " 失败原因: 需要重新登录"));
  records = ReadRecordFile(AllRecordPath(home_)).value_or(std::vector<TMailRecord>{});
  EXPECT_EQ(records.size(), 1u) << check.err;

  // The device grant, the code confirmed in the browser.
  const TRun device = Run({"account", "login", key});
  ASSERT_EQ(device.status, 0) << device.err;
  EXPECT_THAT(device.out, HasSubstr("并输入代码"));
  check = Run({"check"});
  EXPECT_THAT(check.err, Not(HasSubstr("访问失败")));
  // A refresh token revoked behind the program's back costs only that account.
  {
    auto store = TSettingsStore::Open(home_);
    ASSERT_TRUE(RevokeToken(*FindOAuthProvider(*store, "custom"),
                            ReadOAuthTokens(*store, key).Refresh, nullptr));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  check = Run({"check"});
  EXPECT_THAT(check.err, HasSubstr("需要重新登录 (invalid_grant: Token has been revoked.)"));
  EXPECT_THAT(check.err, Not(HasSubstr("ben@" + server + "访问失败")));
}

TEST_F(TlsCommands, CheckAndDeleteOverTlsAndPinnedCertificates) {
  if (auto why = TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  TTestCertificates certs;
  certs.TrustCa();
  // Plain logins refused (from 127.0.0.2): every login below went over TLS.
  TDovecotServer good;
  good.AddUser("ann", "pw1", {Mail("a1"), Mail("a2")});
  good.AddUser("ben", "pw2", {Mail("b1"), Mail("b2")});
  good.EnableTls(certs.Good().Cert, certs.Good().Key, true);
  good.Start();
  TDovecotServer self;
  self.AddUser("cat", "pw3", {Mail("c1")});
  self.EnableTls(certs.SelfSigned().Cert, certs.SelfSigned().Key);
  self.Start();
  const std::string stls = "127.0.0.2:" + std::to_string(good.Port());
  const std::string implicit = "127.0.0.2:" + std::to_string(good.TlsPort());
  Ok({"account", "add", "--server", stls, "--user", "ann", "--password", "pw1"});
  Ok({"account", "add", "--server", implicit, "--user", "ben", "--password", "pw2", "--security",
      "tls"});
  Ok({"account", "add", "--server", self.TlsHostPort(), "--user", "cat", "--password", "pw3",
      "--security", "tls"});
  Ok({"set", "MailCheck", "CheckSummary", "on"});

  TRun check = Run({"check"});
  ASSERT_EQ(check.status, 0) << check.err;
  EXPECT_THAT(check.err, Not(HasSubstr("ann@" + stls + "访问失败")));
  EXPECT_THAT(check.err, Not(HasSubstr("ben@" + implicit + "访问失败")));
  EXPECT_THAT(check.err, HasSubstr("cat@" + self.TlsHostPort() + "访问失败！"));
  EXPECT_THAT(check.err, HasSubstr("cat@" + self.TlsHostPort() +
                                   " 失败原因: 证书验证失败: self-signed certificate"));
  auto records = ReadRecordFile(AllRecordPath(home_)).value_or(std::vector<TMailRecord>{});
  ASSERT_EQ(records.size(), 4u) << check.err;

  // The user looks at the certificate and pins it; the account then works.
  const std::string shown = Ok({"tls", "show", self.TlsHostPort()});
  const std::string fingerprint = TTestCertificates::Fingerprint(certs.SelfSigned().Cert);
  EXPECT_THAT(shown, HasSubstr("SHA-256:     " + fingerprint));
  EXPECT_THAT(shown, HasSubstr("verified:    no: self-signed certificate"));
  EXPECT_THAT(shown, HasSubstr("pinned:      no"));
  EXPECT_THAT(Ok({"tls", "trust", self.TlsHostPort()}), HasSubstr("pinned:      yes"));
  EXPECT_THAT(Ok({"tls", "show", stls, "--starttls"}), HasSubstr("verified:    yes"));
  check = Run({"check"});
  ASSERT_EQ(check.status, 0) << check.err;
  EXPECT_THAT(check.err, Not(HasSubstr("访问失败")));
  records = ReadRecordFile(AllRecordPath(home_)).value_or(std::vector<TMailRecord>{});
  ASSERT_EQ(records.size(), 5u) << check.err;

  // Delete a1 and b2 (STLS and implicit TLS) and c1 (pinned).
  for (auto& r : records) {
    r.VerdictMark =
        (r.MessageKey == "<a1@x>" || r.MessageKey == "<b2@x>" || r.MessageKey == "<c1@x>") ? "Yes"
                                                                                           : "";
  }
  ASSERT_TRUE(WriteRecordFile(AllRecordPath(home_), records));
  const TRun deletion = Run({"delete"});
  ASSERT_EQ(deletion.status, 0) << deletion.err;
  EXPECT_THAT(deletion.out, HasSubstr("deleted 3 messages"));
  for (int i = 0; i < 50 && (good.MessageCount("ann") != 1 || good.MessageCount("ben") != 1 ||
                             self.MessageCount("cat") != 0);
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(good.MessageCount("ann"), 1u);
  EXPECT_THAT(good.Messages("ann")[0], HasSubstr("<a2@x>"));
  ASSERT_EQ(good.MessageCount("ben"), 1u);
  EXPECT_THAT(good.Messages("ben")[0], HasSubstr("<b1@x>"));
  EXPECT_EQ(self.MessageCount("cat"), 0u);

  // A pin that no longer matches (the server changed its certificate) fails
  // the deletion loudly, and says why.
  {
    auto store = TSettingsStore::Open(home_);
    ASSERT_TRUE(store);
    ASSERT_TRUE(WriteTrustedCert(*store, self.TlsHostPort(),
                                 TTestCertificates::Fingerprint(certs.Good().Cert)));
  }
  const TRun refused = Run({"delete", "--account", "cat[" + self.TlsHostPort() + "]"});
  EXPECT_THAT(refused.err, HasSubstr("不能删除信件!"));
  EXPECT_THAT(refused.err, HasSubstr("cat@" + self.TlsHostPort() +
                                     " 失败原因: 证书验证失败: the certificate no "
                                     "longer matches the pinned fingerprint"));
  Ok({"tls", "untrust", self.TlsHostPort()});
  EXPECT_EQ(Run({"tls", "untrust", self.TlsHostPort()}).status, 1);
}

}  // namespace
}  // namespace pelorix
