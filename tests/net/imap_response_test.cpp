// The IMAP response parser: the grammar's hard parts, over memory and over
// a connection that hands out one byte per read.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "net/imap_response.h"
#include "net/line_connection.h"
#include "support/raised.h"

namespace pelorix {
namespace {

using ::testing::HasSubstr;

const std::string kHeader = "Subject: hi\r\nX: {3}\r\n\r\n";

const std::string kTranscript =
    "* 12 FETCH (UID 40 FLAGS (\\Seen $Junk) BODY[HEADER] {" + std::to_string(kHeader.size()) +
    "}\r\n" + kHeader +
    " INTERNALDATE \"09-Dec-2026 12:00:00 +0000\" ENVELOPE (NIL \"a \\\"q\\\" \\\\b\" "
    "((NIL NIL \"x\" \"y\")) NIL) BODY[HEADER.FIELDS (FROM TO)]<0> {0}\r\n)\r\n"
    "* OK [UIDVALIDITY 3857529045] UIDs valid\r\n"
    "P7 NO [AUTHENTICATIONFAILED] Invalid credentials (failure)\r\n"
    "+ YGgGCSqGSIb3EgECAgIBAAD/////6jcyG4GE3KkTzb8kzY1m\r\n";

void CheckTranscript(TImapSource& source) {
  const TImapResponse fetch = ReadImapResponse(source);
  EXPECT_EQ(fetch.Name, "FETCH");
  ASSERT_TRUE(fetch.Number);
  EXPECT_EQ(*fetch.Number, 12u);
  ASSERT_NE(FetchItem(fetch, "uid"), nullptr);
  EXPECT_EQ(FetchItem(fetch, "UID")->Number, 40u);
  EXPECT_EQ(FetchItem(fetch, "BODY[HEADER]")->Text, kHeader);
  EXPECT_EQ(FetchItem(fetch, "FLAGS")->Items.at(1).Text, "$Junk");
  EXPECT_EQ(FetchItem(fetch, "INTERNALDATE")->Text, "09-Dec-2026 12:00:00 +0000");
  const TImapValue* envelope = FetchItem(fetch, "ENVELOPE");
  ASSERT_NE(envelope, nullptr);
  EXPECT_EQ(envelope->Items.at(0).Kind, TImapValue::TKind::Nil);
  EXPECT_EQ(envelope->Items.at(1).Text, "a \"q\" \\b");
  EXPECT_EQ(envelope->Items.at(2).Items.at(0).Items.at(3).Text, "y");
  const TImapValue* empty = FetchItem(fetch, "BODY[HEADER.FIELDS (FROM TO)]<0>");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->Text, "");

  const TImapResponse ok = ReadImapResponse(source);
  EXPECT_EQ(ok.Status, "OK");
  EXPECT_EQ(ok.Code, "UIDVALIDITY");
  EXPECT_EQ(ok.CodeArgs, "3857529045");
  EXPECT_EQ(ok.Text, "UIDs valid");

  const TImapResponse no = ReadImapResponse(source);
  EXPECT_EQ(no.Type, TImapResponse::TType::Tagged);
  EXPECT_EQ(no.Tag, "P7");
  EXPECT_EQ(no.Status, "NO");
  EXPECT_EQ(no.Code, "AUTHENTICATIONFAILED");
  EXPECT_EQ(no.Text, "Invalid credentials (failure)");

  const TImapResponse more = ReadImapResponse(source);
  EXPECT_EQ(more.Type, TImapResponse::TType::Continuation);
  EXPECT_EQ(more.Text, "YGgGCSqGSIb3EgECAgIBAAD/////6jcyG4GE3KkTzb8kzY1m");
}

// Reads the connection's bytes with a one-byte receive buffer: every line
// and every literal arrives split at every byte.
class TConnectionSourceForTest : public TImapSource {
 public:
  explicit TConnectionSourceForTest(TLineConnection& c) : c_(c) {}
  std::string Line(std::size_t max) override {
    return c_.ReadLine("\n", -1, static_cast<int>(max));
  }
  void Bytes(std::uint64_t count, std::string& out, std::uint64_t keep) override {
    c_.ReadBytes(count, out, keep);
  }

 private:
  TLineConnection& c_;
};

TEST(ImapResponseTest, FullGrammarFromMemoryAndSplitAtEveryByte) {
  TImapBufferSource memory(kTranscript);
  CheckTranscript(memory);
  EXPECT_TRUE(memory.AtEnd());

  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  std::thread writer([&] {
    for (const char c : kTranscript)
      ASSERT_EQ(send(pair[1], &c, 1, MSG_NOSIGNAL), 1);
    close(pair[1]);
  });
  TLineConnection connection;
  connection.RecvBufferSize = 1;
  connection.AttachSocket(pair[0]);
  TConnectionSourceForTest split(connection);
  CheckTranscript(split);
  writer.join();
}

TEST(ImapResponseTest, AbsurdAndOversizedLiteralsStayBounded) {
  // Sizes no server could mean end the connection before any byte is read.
  for (const std::string& size :
       std::vector<std::string>{"99999999999999999999999", "18446744073709551616", "5000000000"}) {
    const std::string bytes = "* 1 FETCH (BODY[] {" + size + "}\r\n";
    TImapBufferSource source(bytes);
    const auto e = test::Raised<EImapProtocolError>([&] { ReadImapResponse(source); });
    ASSERT_TRUE(e) << size;
  }
  // Past the bytes kept, a literal is read and dropped; the stream stays in step.
  TImapLimits limits;
  limits.MaxKept = 10;
  const std::string big(1000, 'z');
  const std::string bytes = "* 1 FETCH (BODY[] {1000}\r\n" + big + " UID 5)\r\nP1 OK done\r\n";
  TImapBufferSource source(bytes);
  const TImapResponse r = ReadImapResponse(source, limits);
  EXPECT_EQ(FetchItem(r, "BODY[]")->Text, std::string(10, 'z'));
  EXPECT_TRUE(FetchItem(r, "BODY[]")->Truncated);
  EXPECT_EQ(FetchItem(r, "UID")->Number, 5u);
  EXPECT_EQ(ReadImapResponse(source, limits).Status, "OK");
}

TEST(ImapResponseTest, BrokenResponsesAreProtocolErrors) {
  TImapLimits limits;
  limits.MaxDepth = 8;
  for (const std::string& bad : std::vector<std::string>{
           "* LIST (\\Noselect \"/\" x\r\n", "* 1 FETCH (BODY[] {12} trailing\r\n",
           "* OK [ALERT unterminated\r\n", "P1 FETCH (x)\r\n", "* SEARCH \"open\r\n", "* x )\r\n",
           "* 1 FETCH " + std::string(20, '(') + std::string(20, ')') + "\r\n"}) {
    TImapBufferSource source(bad);
    EXPECT_TRUE(test::Raised<EImapProtocolError>([&] { ReadImapResponse(source, limits); })) << bad;
  }
  // A literal promised and never sent is a closed connection, not a hang.
  TImapBufferSource cut("* 1 FETCH (BODY[] {50}\r\nshort");
  EXPECT_TRUE(test::Raised<EConnClosedGracefully>([&] { ReadImapResponse(cut); }));
}

TEST(ImapResponseTest, MailboxNamesInModifiedUtf7) {
  EXPECT_EQ(EncodeMailboxName("~peter/mail/台北/日本語"), "~peter/mail/&U,BTFw-/&ZeVnLIqe-");
  for (const std::string& name :
       std::vector<std::string>{"垃圾邮件", "A&B", "Junk", "😀 x", "Ünïcode/已删除"})
    EXPECT_EQ(DecodeMailboxName(EncodeMailboxName(name)), name);
  EXPECT_EQ(ImapQuoted("a\"b\\c").value(), "\"a\\\"b\\\\c\"");
  EXPECT_FALSE(ImapQuoted("line\r\nbreak"));
  EXPECT_THAT(DecodeMailboxName("&Jjo-!"), HasSubstr("!"));
}

}  // namespace
}  // namespace pelorix
