// The IMAP session against a real Dovecot serving the same Maildir over
// POP3 and IMAP: plain, STARTTLS and TLS from the first byte; headers and
// whole messages read without setting \Seen; a move lands in Junk.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mime/mail_message.h"
#include "net/imap_session.h"
#include "net/pop3_session.h"
#include "support/dovecot.h"
#include "support/oauth_server.h"
#include "support/raised.h"
#include "support/tls_certs.h"

namespace pelorix {
namespace {

using ::testing::HasSubstr;

std::string Mail(int i) {
  return "From: a" + std::to_string(i) + "@example.org\nSubject: number " + std::to_string(i) +
         "\nMessage-ID: <n" + std::to_string(i) + "@x>\n\nbody " + std::to_string(i) + "\n.dot\n";
}

TEST(ImapDovecotTest, ReadsOverEveryConnectionModeAndMovesToJunk) {
  if (auto why = test::TDovecotServer::ImapSkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TTestCertificates certs;
  certs.TrustCa();
  test::TDovecotServer dovecot;
  std::vector<std::string> mails;
  for (int i = 1; i <= 40; ++i)
    mails.push_back(Mail(i));
  dovecot.AddUser("bob", "pw", mails);
  dovecot.EnableTls(certs.Good().Cert, certs.Good().Key);
  dovecot.EnableImap();
  dovecot.Start();

  struct TMode {
    std::string Host;
    TSecurity Security;
  };
  for (const TMode& mode : {TMode{dovecot.ImapHostPort(), TSecurity::None},
                            TMode{dovecot.ImapHostPort(), TSecurity::StartTls},
                            TMode{dovecot.ImapTlsHostPort(), TSecurity::Tls}}) {
    SCOPED_TRACE(mode.Host);
    TImapSession session;
    session.Host = mode.Host;
    session.Security = mode.Security;
    session.Username = "bob";
    session.Password = "pw";
    session.ReadTimeout = 10000;
    session.Pipeline.MaxCommands = 7;  // the window turns over many times
    session.Connect();
    EXPECT_EQ(session.TlsActive(), mode.Security != TSecurity::None);
    ASSERT_EQ(session.MessageCount(), 40);
    const TPop3Listing listing = session.List(40);
    ASSERT_TRUE(listing.Complete);
    const auto fetcher = session.MakeFetcher(listing, [](long long size) { return size % 2 == 0; });
    for (int i = 1; i <= 40; ++i) {
      TMailMessage msg;
      ASSERT_TRUE(fetcher->Next(msg));
      EXPECT_EQ(msg.Subject, "number " + std::to_string(i));
      if (listing.Sizes[static_cast<std::size_t>(i - 1)] % 2 == 0) {
        EXPECT_THAT(msg.Body, ::testing::Contains(".dot"));
      } else {
        EXPECT_TRUE(msg.Body.empty());
      }
    }
    std::string raw;
    ASSERT_TRUE(session.RetrieveRaw(3, raw));
    EXPECT_THAT(raw, HasSubstr("Message-ID: <n3@x>\r\n"));
    // A header fetch with peeked lines brings the first body lines along.
    session.PeekLines = 1;
    TMailMessage peeked;
    ASSERT_TRUE(session.FetchHeader(4, peeked));
    EXPECT_EQ(peeked.Subject, "number 4");
    EXPECT_THAT(peeked.Body, ::testing::Contains("body 4"));
    session.PeekLines = 0;
    session.Disconnect();
    EXPECT_EQ(dovecot.MessageCount("bob"), 40u);
  }
  // Nothing was marked read: \Seen shows as the flag S in a file's name.
  for (const auto& entry :
       std::filesystem::directory_iterator(dovecot.Folder() + "/home/bob/Maildir/cur")) {
    const std::string name = entry.path().filename().string();
    const auto flags = name.find(":2,");
    EXPECT_TRUE(flags == std::string::npos || name.find('S', flags) == std::string::npos) << name;
  }

  // Ticked 2 and 5 go to Junk; POP3 then sees the rest of the same Maildir.
  TImapSession session;
  session.Host = dovecot.ImapHostPort();
  session.Security = TSecurity::None;
  session.Username = "bob";
  session.Password = "pw";
  session.Connect();
  ASSERT_EQ(session.MessageCount(), 40);
  session.DeleteMessage(2);
  session.DeleteMessage(5);
  session.Disconnect();
  EXPECT_EQ(session.DeletionDone(2), true);
  const auto junk = dovecot.Messages("bob", "Junk");
  ASSERT_EQ(junk.size(), 2u);
  EXPECT_THAT(junk[0] + junk[1], HasSubstr("<n2@x>"));
  EXPECT_THAT(junk[0] + junk[1], HasSubstr("<n5@x>"));
  TPop3Session pop3;
  pop3.Host = dovecot.HostPort();
  pop3.Security = TSecurity::None;
  pop3.Username = "bob";
  pop3.Password = "pw";
  pop3.Connect();
  EXPECT_EQ(pop3.MessageCount(), 38);
  pop3.Disconnect();

  const auto refused = test::Raised<EImapReplyError>([&] {
    TImapSession wrong;
    wrong.Host = dovecot.ImapHostPort();
    wrong.Security = TSecurity::None;
    wrong.Username = "bob";
    wrong.Password = "nope";
    wrong.Connect();
  });
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->Code, "AUTHENTICATIONFAILED");
}

TEST(ImapDovecotTest, SaslLoginsOverTlsWithTokensCheckedByTheServer) {
  if (auto why = test::TDovecotServer::ImapSkipReason(); !why.empty())
    GTEST_SKIP() << why;
  if (auto why = test::TOAuthServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TTestCertificates certs;
  certs.TrustCa();
  test::TOAuthServer oauth("client-1", "alice@example.com");
  oauth.Start();
  test::TDovecotServer dovecot;
  dovecot.AddUser("alice@example.com", "pw", {Mail(1)});
  dovecot.EnableTls(certs.Good().Cert, certs.Good().Key);
  dovecot.EnableImap();
  dovecot.EnableOAuth2(oauth.Url("/introspect"));
  dovecot.Start();
  const std::string token = oauth.IssueAccessToken();

  struct TCase {
    TSaslMechanism Mechanism;
    std::string Secret;
  };
  for (const TCase& c :
       {TCase{TSaslMechanism::OAuthBearer, token}, TCase{TSaslMechanism::XOAuth2, token},
        TCase{TSaslMechanism::Plain, "pw"}, TCase{TSaslMechanism::Login, "pw"}}) {
    SCOPED_TRACE(std::string(SaslMechanismName(c.Mechanism)));
    TImapSession session;
    session.Host = dovecot.ImapTlsHostPort();
    session.Security = TSecurity::Tls;
    session.Username = "alice@example.com";
    session.Password = c.Secret;
    session.Sasl = c.Mechanism;
    session.ReadTimeout = 10000;
    session.Connect();
    EXPECT_EQ(session.MessageCount(), 1) << dovecot.Log();
    session.Disconnect();
  }

  // A token the server does not know: refused, the server's reason decoded.
  TImapSession session;
  session.Host = dovecot.ImapTlsHostPort();
  session.Security = TSecurity::Tls;
  session.Username = "alice@example.com";
  session.Password = "not-a-token";
  session.Sasl = TSaslMechanism::OAuthBearer;
  session.ReadTimeout = 10000;
  const auto e = test::Raised<EAuthRefused>([&] { session.Connect(); });
  ASSERT_TRUE(e) << dovecot.Log();
  EXPECT_THAT(e->Cause, HasSubstr("token expired or revoked")) << e->what();
}

}  // namespace
}  // namespace pelorix
