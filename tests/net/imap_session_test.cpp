// The IMAP session against scripted servers: exact commands, pipelined
// fetches with untagged news in between, BYE, refusals and each way of
// deleting.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/mail_message.h"
#include "net/imap_session.h"
#include "net/pop3_session.h"
#include "support/fake_server.h"
#include "support/raised.h"

namespace pelorix {
namespace {

using ::testing::HasSubstr;

std::string FetchHeader(int seq, int uid, const std::string& subject) {
  const std::string header = "Subject: " + subject + "\r\nMessage-ID: <" + subject + "@x>\r\n\r\n";
  return "* " + std::to_string(seq) + " FETCH (UID " + std::to_string(uid) + " BODY[HEADER] {" +
         std::to_string(header.size()) + "}\r\n" + header + ")\r\n";
}

// Greeting and login (AUTHENTICATE PLAIN with SASL-IR), then EXAMINE and
// the listing of three messages, UIDs 10 to 12, UIDVALIDITY 7.
void Prelude(test::TScriptServer& s, const std::string& caps) {
  s.SendLine("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR " + caps + "] ready");
  s.Expect("P1 AUTHENTICATE PLAIN AGJvYgBwdw==");
  s.SendLine("P1 OK [CAPABILITY IMAP4rev1 " + caps + "] in");
  s.Script(
      "C: P2 EXAMINE \"INBOX\"\n"
      "S: * 3 EXISTS\n"
      "S: * OK [UIDVALIDITY 7] ok\n"
      "S: P2 OK [READ-ONLY] done\n"
      "C: P3 FETCH 1:* (UID RFC822.SIZE)\n"
      "S: * 1 FETCH (UID 10 RFC822.SIZE 100)\n"
      "S: * 2 FETCH (RFC822.SIZE 200 UID 11)\n"
      "S: * 3 FETCH (UID 12 RFC822.SIZE 300)\n"
      "S: P3 OK done\n");
}

void Open(TImapSession& session, test::TScriptServer& s) {
  s.Start();
  session.Host = s.HostPort();
  session.Security = TSecurity::None;
  session.Username = "bob";
  session.Password = "pw";
  session.ReadTimeout = 10000;
  session.Connect();
  ASSERT_EQ(session.MessageCount(), 3);
}

TEST(ImapSessionTest, PipelinedHeadersWithExpungeAndExistsInBetween) {
  test::TScriptServer s;
  Prelude(s, "");
  s.Expect("P4 UID FETCH 10 (BODY.PEEK[HEADER])");
  s.Expect("P5 UID FETCH 11 (BODY.PEEK[HEADER])");
  s.Expect("P6 UID FETCH 12 (BODY.PEEK[HEADER])");
  s.SendRaw(FetchHeader(1, 10, "one") + "P4 OK done\r\n");
  // Another client removes message 2 and a new one arrives mid-fetch.
  s.SendRaw("* 2 EXPUNGE\r\n* 3 EXISTS\r\nP5 OK nothing left of it\r\n");
  s.SendRaw(FetchHeader(2, 12, "three") + "* 2 FETCH (FLAGS (\\Seen))\r\nP6 OK done\r\n");
  s.Script("C: P7 LOGOUT\nS: * BYE see you\nS: P7 OK bye\n");

  TImapSession session;
  Open(session, s);
  const TPop3Listing listing = session.List(3);
  EXPECT_TRUE(listing.Complete);
  EXPECT_EQ(listing.Total, 600);
  EXPECT_EQ(session.MessageSize(2), 200);
  const auto fetcher = session.MakeFetcher(listing, [](long long) { return false; });
  ASSERT_TRUE(fetcher);
  TMailMessage msg;
  EXPECT_TRUE(fetcher->Next(msg));
  EXPECT_EQ(msg.Subject, "one");
  msg.Clear();
  EXPECT_TRUE(test::Raised<EMailError>([&] { fetcher->Next(msg); }));
  msg.Clear();
  EXPECT_TRUE(fetcher->Next(msg));
  EXPECT_EQ(msg.MessageId, "<three@x>");
  EXPECT_EQ(session.MessageRef(3), "imap:INBOX;UIDVALIDITY=7;UID=12");
  session.Disconnect();
  s.Wait();
  EXPECT_THAT(s.Errors(), ::testing::IsEmpty());
}

TEST(ImapSessionTest, ByeMidFetchEndsTheConnection) {
  test::TScriptServer s;
  Prelude(s, "");
  s.Expect("P4 UID FETCH 10 (BODY.PEEK[])");
  s.SendRaw(
      "* 1 FETCH (UID 10 BODY[] {19}\r\nSubject: cut\r\n\r\nabc)\r\n"
      "* BYE server shutting down\r\n");
  s.CloseConnection();

  TImapSession session;
  Open(session, s);
  TMailMessage msg;
  // The data arrives whole; a BYE comes in place of the completion.
  const auto bye = test::Raised<EImapBye>([&] { session.FetchMessage(1, msg); });
  ASSERT_TRUE(bye);
  EXPECT_EQ(bye->Text, "server shutting down");
  EXPECT_FALSE(session.IsConnected());
  s.Wait();
}

TEST(ImapSessionTest, RefusedLoginCarriesTheResponseCode) {
  test::TScriptServer s;
  // No AUTH=PLAIN: LOGIN, the 8-bit password as a literal after the go-ahead.
  s.Script(
      "S: * OK [CAPABILITY IMAP4rev1] ready\n"
      "C: P1 LOGIN \"bob\" {6}\n"
      "S: + go ahead\n");
  s.Do([](test::TServerSocket& socket) {
    std::string line;
    socket.ReadLine(line, std::chrono::milliseconds(5000));
    if (line != "p\xc3\xa4ss!")
      socket.Send("P1 BAD wrong literal\r\n");
    else
      socket.Send("P1 NO [AUTHENTICATIONFAILED] Invalid credentials\r\n");
  });
  s.WaitClientClose();
  s.Start();
  TImapSession session;
  session.Host = s.HostPort();
  session.Security = TSecurity::None;
  session.Username = "bob";
  session.Password = "p\xc3\xa4ss!";
  const auto e = test::Raised<EImapReplyError>([&] { session.Connect(); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Code, "AUTHENTICATIONFAILED");
  EXPECT_THAT(e->what(), HasSubstr("Invalid credentials"));
  EXPECT_FALSE(session.IsConnected());
  s.Wait();
  EXPECT_THAT(s.Errors(), ::testing::IsEmpty());
}

TEST(ImapSessionTest, OAuthLoginWithoutSaslIrShowsTheDecodedRefusal) {
  test::TScriptServer s;
  // The credentials after the empty go-ahead; the JSON challenge after
  // them is the refusal, answered with an empty line.
  s.Script(
      "S: * OK [CAPABILITY IMAP4rev1 AUTH=PLAIN AUTH=XOAUTH2] ready\n"
      "C: P1 AUTHENTICATE XOAUTH2\n"
      "S: + \n"
      "C: dXNlcj1ib2IBYXV0aD1CZWFyZXIgdG9rAQE=\n"
      "S: + eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIiwic2NvcGUiOiJtYWlsIn0=\n"
      "C: \n"
      "S: P1 NO [AUTHENTICATIONFAILED] Authentication failed.\n");
  s.WaitClientClose();
  s.Start();
  TImapSession session;
  session.Host = s.HostPort();
  session.Security = TSecurity::None;
  session.Username = "bob";
  session.Password = "tok";
  session.Sasl = TSaslMechanism::XOAuth2;
  const auto e = test::Raised<EAuthRefused>([&] { session.Connect(); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Cause, "token expired or revoked (status invalid_token, scope mail)");
  EXPECT_THAT(e->what(), HasSubstr("Authentication failed."));
  s.Wait();
  EXPECT_THAT(s.Errors(), ::testing::IsEmpty());

  // A mechanism the server does not list: nothing secret goes out.
  test::TScriptServer plainOnly;
  plainOnly.SendLine("* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN SASL-IR] ready");
  plainOnly.WaitClientClose();
  plainOnly.Start();
  session.Host = plainOnly.HostPort();
  session.Sasl = TSaslMechanism::OAuthBearer;
  EXPECT_TRUE(test::Raised<EMechanismNotOffered>([&] { session.Connect(); }));
  plainOnly.Wait();
  EXPECT_THAT(plainOnly.Errors(), ::testing::IsEmpty());
}

struct TDeleteCase {
  std::string Caps;
  TImapDeleteMode Mode;
  std::vector<std::string> Commands;  // after SELECT and UID SEARCH
};

TEST(ImapSessionTest, EachWayOfDeletingSendsOnlyTheTickedUids) {
  const std::vector<TDeleteCase> cases = {
      {"MOVE UIDPLUS", TImapDeleteMode::Auto, {"UID MOVE 10,12 \"Junk\""}},
      {"UIDPLUS",
       TImapDeleteMode::Trash,
       {"UID COPY 10,12 \"Deleted Items\"", "UID STORE 10,12 +FLAGS.SILENT (\\Deleted)",
        "UID EXPUNGE 10,12"}},
      // Neither MOVE nor UIDPLUS: copied and flagged, never expunged.
      {"",
       TImapDeleteMode::Junk,
       {"UID COPY 10,12 \"Junk\"", "UID STORE 10,12 +FLAGS.SILENT (\\Deleted)"}},
      {"UIDPLUS MOVE",
       TImapDeleteMode::Expunge,
       {"UID STORE 10,12 +FLAGS.SILENT (\\Deleted)", "UID EXPUNGE 10,12"}},
  };
  for (const TDeleteCase& c : cases) {
    SCOPED_TRACE(c.Caps);
    test::TScriptServer s;
    Prelude(s, c.Caps);
    int tag = 4;
    auto next = [&] { return "P" + std::to_string(tag++); };
    if (c.Mode != TImapDeleteMode::Expunge) {
      const std::string t = next();
      s.Expect(t + " LIST \"\" \"*\"");
      s.SendLine("* LIST (\\HasNoChildren \\Junk) \"/\" Junk");
      s.SendLine("* LIST (\\Trash) \"/\" \"Deleted Items\"");
      s.SendLine(t + " OK done");
    }
    std::string t = next();
    s.Expect(t + " SELECT \"INBOX\"");
    s.SendLine("* OK [UIDVALIDITY 7] ok");
    s.SendLine(t + " OK [READ-WRITE] done");
    t = next();
    s.Expect(t + " UID SEARCH UID 10,12");
    s.SendLine("* SEARCH 12 10");
    s.SendLine(t + " OK done");
    for (const std::string& command : c.Commands) {
      t = next();
      s.Expect(t + " " + command);
      s.SendLine(t + " OK done");
    }
    t = next();
    s.Expect(t + " LOGOUT");
    s.SendLine("* BYE");
    s.SendLine(t + " OK done");

    TImapSession session;
    session.DeleteMode = c.Mode;
    Open(session, s);
    session.DeleteMessage(1);
    session.DeleteMessage(3);
    session.Disconnect();
    s.Wait();
    EXPECT_THAT(s.Errors(), ::testing::IsEmpty());
    for (const std::string& line : s.Received())
      EXPECT_FALSE(line.ends_with(" EXPUNGE")) << line;
    EXPECT_EQ(session.DeletionDone(1), true);
    EXPECT_EQ(session.DeletionDone(2), false);
    EXPECT_EQ(session.DeletionDone(3), true);
  }
}

TEST(ImapSessionTest, NothingIsDeletedWhenItCannotBeDoneSafely) {
  // Delete for good without UIDPLUS, then a renumbered folder.
  for (const bool uidplus : {false, true}) {
    SCOPED_TRACE(uidplus);
    test::TScriptServer s;
    Prelude(s, uidplus ? "UIDPLUS" : "MOVE");
    if (uidplus) {
      s.Script(
          "C: P4 SELECT \"INBOX\"\n"
          "S: * OK [UIDVALIDITY 8] renumbered\n"
          "S: P4 OK [READ-WRITE] done\n"
          "C: P5 LOGOUT\n"
          "S: P5 OK bye\n");
    } else {
      s.Script("C: P4 LOGOUT\nS: P4 OK bye\n");
    }
    TImapSession session;
    session.DeleteMode = TImapDeleteMode::Expunge;
    Open(session, s);
    EXPECT_EQ(session.RefsProblem({"imap:INBOX;UIDVALIDITY=7;UID=10"}), "");
    EXPECT_THAT(session.RefsProblem({"imap:INBOX;UIDVALIDITY=6;UID=10"}), HasSubstr("UIDVALIDITY"));
    session.DeleteMessage(2);
    const auto e = test::Raised<EImapDeletionRefused>([&] { session.Disconnect(); });
    ASSERT_TRUE(e);
    EXPECT_THAT(e->what(), HasSubstr(uidplus ? "UIDVALIDITY" : "UIDPLUS"));
    EXPECT_EQ(session.DeletionDone(2), false);
    s.Wait();
    EXPECT_THAT(s.Errors(), ::testing::IsEmpty());
  }
}

}  // namespace
}  // namespace pelorix
