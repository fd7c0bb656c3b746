// Not a benchmark: the sign-in test stack up for a walk through the window
// by hand. A private keyring on its own session bus, the local
// authorization server, Dovecot (TLS required, OAuth2 tokens checked) and
// aiosmtpd (XOAUTH2), with a home prepared for them: the generic OAuth
// entry pointing at the local server, the SMTP settings of ann@example.com
// and a password account bob whose password is stored the old way, before
// the keyring came up. Prints the environment the window needs, then waits
// for SIGINT or SIGTERM.
//
//   pelorix_signin_stack HOME [TOKEN_SECONDS]

#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "store/accounts.h"
#include "store/connection_security.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"
#include "support/dovecot.h"
#include "support/keyring.h"
#include "support/oauth_server.h"
#include "support/smtp_server.h"
#include "support/tls_certs.h"

namespace {

std::string Mail(int i) {
  return "Received: from mx.example.org ([61.135.1.2]) by pop.example.org\nFrom: sender" +
         std::to_string(i) + "@example.org\nTo: ann@example.com\nSubject: hello " +
         std::to_string(i) + "\nMessage-ID: <s" + std::to_string(i) +
         "@example.org>\nDate: Tue, 08 Dec 2026 10:00:00 +0000\n\nbody " + std::to_string(i) + "\n";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pelorix;
  if (argc < 2) {
    std::cerr << "usage: pelorix_signin_stack HOME [TOKEN_SECONDS]\n";
    return 2;
  }
  const std::string home = argv[1];
  const int lifetime = argc > 2 ? std::atoi(argv[2]) : 3600;
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  try {
    test::TTestCertificates certs;
    certs.TrustCa();
    test::TOAuthServer oauth("client-1", "ann@example.com", lifetime);
    oauth.Start();
    test::TDovecotServer dovecot;
    dovecot.AddUser("ann@example.com", "unused", {Mail(1), Mail(2), Mail(3)});
    dovecot.AddUser("bob", "b-pw", {Mail(4)});
    dovecot.EnableTls(certs.Good().Cert, certs.Good().Key, true);
    dovecot.EnableOAuth2(oauth.Url("/introspect"));
    dovecot.Start();
    test::TAioSmtpServer smtp;
    smtp.EnableOAuth2(oauth.Url("/introspect"));
    smtp.Start();
    const std::string server = "127.0.0.2:" + std::to_string(dovecot.TlsPort());
    {
      // No bus yet: bob's password is stored scrambled, as before keyrings.
      ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
      auto store = TSettingsStore::Open(home);
      if (!store)
        throw std::runtime_error("cannot open the settings in " + home);
      if (!SaveAccounts(*store, {{server, "bob", "b-pw", "Bob"}}) ||
          !WriteAccountSecurity(*store, "bob[" + server + "]", "tls"))
        throw std::runtime_error("cannot save bob");
      TSettingsKey key;
      OpenSettingsKey(*store, "OAuth\\custom", true, key);
      WriteTextValue(key, "ClientId", "client-1");
      WriteTextValue(key, "AuthorizationEndpoint", oauth.Url("/authorize"));
      WriteTextValue(key, "TokenEndpoint", oauth.Url("/token"));
      WriteTextValue(key, "RevocationEndpoint", oauth.Url("/revoke"));
      WriteTextValue(key, "Scope", "mail");
      OpenSettingsKey(*store, "Smtp", true, key);
      WriteTextValue(key, "SmtpServer", smtp.HostPort());
      WriteTextValue(key, "account", "ann@example.com");
      WriteTextValue(key, "MyEmail", "ann@example.com");
      WriteNumberValue(key, "authType", 1);
      WriteSmtpMechanism(*store, "xoauth2");
      WriteSmtpSecurity(*store, "none");
      TMailPlan plan;
      plan.Load(*store);
      plan.CheckSummary = true;
      plan.Save(*store);
    }
    test::TKeyringSession keyring;
    if (!keyring.Start())
      throw std::runtime_error("the keyring did not start: " + keyring.Failure());
    std::cout << "export DBUS_SESSION_BUS_ADDRESS='" << std::getenv("DBUS_SESSION_BUS_ADDRESS")
              << "'\nexport SSL_CERT_FILE='" << std::getenv("SSL_CERT_FILE") << "'\n# mailbox "
              << server << " (TLS), ann@example.com signs in with OAuth2; bob/b-pw\n# smtp "
              << smtp.HostPort() << " XOAUTH2\n# revoke: curl -d token=... " << oauth.Url("/revoke")
              << std::endl;
    int signal = 0;
    sigwait(&stop, &signal);
    std::cout << "# smtp received " << smtp.Received().size() << " messages\n";
    for (const auto& r : smtp.Received())
      std::cout << "#   login " << r.Login << "\n";
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
