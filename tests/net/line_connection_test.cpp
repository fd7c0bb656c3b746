#include "net/line_connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "net/errors.h"
#include "support/fake_server.h"
#include "support/process.h"
#include "support/raised.h"

namespace pelorix {
namespace {

using namespace std::chrono_literals;
using test::Raised;
using test::TScriptServer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class LineConnectionTest : public ::testing::Test {
 protected:
  void Connect() {
    server.Start();
    client.Host = server.HostPort();
    client.Connect();
  }
  TScriptServer server;
  TLineClient client;
};

TEST_F(LineConnectionTest, MultiLineReplyIsOneReply) {
  server.Script(
      "S: 250-mail.example.com greets you\n"
      "S: 250 AUTH LOGIN PLAIN\n"
      "S: 220 next\n");
  Connect();
  client.ReadReply();
  EXPECT_EQ(client.LastReply.NumericCode(), 250);
  EXPECT_EQ(client.LastReply.TextCode(), "250");
  EXPECT_THAT(client.LastReply.Text,
              ElementsAre("mail.example.com greets you", "AUTH LOGIN PLAIN"));
  client.ReadReply();
  EXPECT_EQ(client.LastReply.NumericCode(), 220);
  EXPECT_THAT(client.LastReply.Text, ElementsAre("next"));
}

TEST_F(LineConnectionTest, MultiLineReplyEndsAtShortLineAndIgnoresCase) {
  server.SendRaw("abc-one\r\nABC two\r\nzz\r\nxyz-a\r\nxy\r\n");
  Connect();
  client.ReadReply();
  EXPECT_EQ(client.LastReply.TextCode(), "abc");
  EXPECT_EQ(client.LastReply.NumericCode(), 0);
  EXPECT_THAT(client.LastReply.Text, ElementsAre("one", "two"));
  client.ReadReply();
  EXPECT_EQ(client.LastReply.TextCode(), "zz");
  client.ReadReply();
  EXPECT_THAT(client.LastReply.Text, ElementsAre("a", ""));
}

TEST_F(LineConnectionTest, EmptyLinesBeforeReplyAreSkippedAndLinesTrimmed) {
  server.SendRaw("\r\n\n   \r\n  354 go ahead  \r\n");
  Connect();
  client.ReadReply();
  EXPECT_EQ(client.LastReply.NumericCode(), 354);
  EXPECT_THAT(client.LastReply.Text, ElementsAre("go ahead"));
}

TEST_F(LineConnectionTest, LfAndCrLfLinesReadTheSame) {
  server.SendRaw("one\ntwo\r\nthree\r\r\n\n");
  Connect();
  EXPECT_EQ(client.ReadLine(), "one");
  EXPECT_EQ(client.ReadLine(), "two");
  EXPECT_EQ(client.ReadLine(), "three\r");  // only the CR right before LF goes
  EXPECT_EQ(client.ReadLine(), "");
}

TEST_F(LineConnectionTest, LineLengthLimitCountsTheCarriageReturn) {
  const std::string max(16384, 'a');
  server.SendRaw(max + "\n");                        // 16384 before LF: accepted
  server.SendRaw(std::string(16383, 'b') + "\r\n");  // 16384 with the CR: accepted
  server.SendRaw(std::string(16384, 'c') + "\r\n");  // 16385 with the CR: too long
  Connect();
  EXPECT_EQ(client.ReadLine(), max);
  EXPECT_EQ(client.ReadLine(), std::string(16383, 'b'));
  const auto e = Raised<ELineTooLong>([&] { client.ReadLine(); });
  ASSERT_TRUE(e) << "no error for an over-long line";
  EXPECT_STREQ(e->what(), "Max line length exceeded.");
}

TEST_F(LineConnectionTest, OverLongLineWithoutTerminatorRaisesBeforeItEnds) {
  // The server sends more than the limit and then waits: the client must
  // not wait for the rest of the line.
  server.SendRaw(std::string(20000, 'x')).Stall(3s);
  Connect();
  client.MaxLineLength = 1000;
  EXPECT_THROW(client.ReadLine(), ELineTooLong);
}

TEST_F(LineConnectionTest, SplitActionCutsLongLines) {
  server.SendRaw("abcdefghij\r\nxy\r\n");
  Connect();
  client.MaxLineLength = 4;
  client.MaxLineAction = TMaxLineAction::Split;
  EXPECT_EQ(client.ReadLine(), "abcd");
  EXPECT_EQ(client.ReadLine(), "efgh");
  EXPECT_EQ(client.ReadLine(), "ij");
  EXPECT_EQ(client.ReadLine(), "xy");
}

TEST_F(LineConnectionTest, RawAnswerLinesKeepTheirEndsAndStayInStepPastTheLimit) {
  // Sent in pieces so that the over-long line spans several reads.
  server.SendRaw("a\r\n..b\nc")
      .Stall(50ms)
      .SendRaw("\r\n" + std::string(300, 'x'))
      .Stall(50ms)
      .SendRaw(std::string(300, 'y') + "\r\n.\r\n+OK next\r\n");
  Connect();
  std::string raw;
  EXPECT_TRUE(client.AppendAnswerLine(raw, 100));
  EXPECT_TRUE(client.AppendAnswerLine(raw, 100));
  EXPECT_TRUE(client.AppendAnswerLine(raw, 100));
  EXPECT_EQ(raw, "a\r\n.b\nc\r\n");
  EXPECT_THROW(client.AppendAnswerLine(raw, 100), EMailError);
  EXPECT_FALSE(client.AppendAnswerLine(raw, 100));
  EXPECT_EQ(client.ReadLine(), "+OK next");
}

TEST_F(LineConnectionTest, PeerCloseKeepsEndedLinesAndDropsUnterminatedTail) {
  server.SendRaw("first\r\nsecond\nunterminated").CloseConnection();
  Connect();
  EXPECT_EQ(client.ReadLine(), "first");
  EXPECT_EQ(client.ReadLine(), "second");
  const auto e = Raised<EConnClosedGracefully>([&] { client.ReadLine(); });
  ASSERT_TRUE(e) << "no error after the peer closed";
  EXPECT_STREQ(e->what(), "Connection Closed Gracefully.");
  EXPECT_THROW(client.ReadLine(), EConnClosedGracefully);
}

TEST_F(LineConnectionTest, ReadTimeoutRaisesAndExplicitTimeoutReturnsEmpty) {
  server.Stall(5s);
  Connect();
  client.ReadTimeout = 100;
  const auto e = Raised<EReadTimeout>([&] { client.ReadLine(); });
  ASSERT_TRUE(e) << "no time-out";
  EXPECT_STREQ(e->what(), "Read Timeout");
  EXPECT_EQ(client.ReadLine("\n", 50), "");
}

TEST_F(LineConnectionTest, OtherTerminator) {
  server.SendRaw("a;b\r;");
  Connect();
  EXPECT_EQ(client.ReadLine(";"), "a");
  EXPECT_EQ(client.ReadLine(";"), "b\r");
}

TEST_F(LineConnectionTest, WriteLineEndsWithCrLf) {
  server.Expect("HELLO there").Expect("").Expect("last");
  Connect();
  client.WriteLine("HELLO there");
  client.WriteLine("");
  client.Write("la");
  client.Write("st\r\n");
  server.Wait();
  EXPECT_THAT(server.Errors(), IsEmpty());
}

TEST_F(LineConnectionTest, SendCommandChecksAllowedCodes) {
  server.Script(
      "C: NOOP\n"
      "S: 250 fine\n"
      "C: MAIL FROM:<a@b>\n"
      "S: 550-no such\n"
      "S: 550 user here\n"
      "C: ANY\n"
      "S: 999 whatever\n");
  Connect();
  EXPECT_EQ(client.SendCommand("NOOP", {250}), 250);
  const auto e = Raised<EProtocolReplyError>([&] {
    client.SendCommand("MAIL FROM:<a@b>", {250, 251});
  });
  ASSERT_TRUE(e) << "no reply error";
  EXPECT_EQ(e->ReplyCode, 550);
  EXPECT_STREQ(e->what(), "no such\r\nuser here\r\n");
  EXPECT_EQ(client.SendCommand("ANY"), 999);
}

TEST_F(LineConnectionTest, StatusTextsAndIsConnectedAfterPeerClose) {
  std::vector<std::string> texts;
  client.OnStatus = [&](TConnectionStatus, const std::string& text) { texts.push_back(text); };
  server.SendLine("hello").CloseConnection();
  Connect();
  EXPECT_EQ(client.ReadLine(), "hello");
  // The close may take a moment to arrive.
  bool connected = true;
  for (int i = 0; i < 100 && connected; ++i) {
    connected = client.IsConnected();
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_FALSE(connected);
  client.Disconnect();
  EXPECT_THAT(texts, ElementsAre("Connecting to 127.0.0.1.", "Connected.", "Disconnected.",
                                 "Disconnecting.", "Disconnected."));
}

TEST_F(LineConnectionTest, ResolvingStatusOnlyForNames) {
  std::vector<std::string> texts;
  client.OnStatus = [&](TConnectionStatus status, const std::string& text) {
    if (status == TConnectionStatus::Resolving) {
      texts.push_back(text);
    }
  };
  server.Start();
  client.Host = "localhost:" + std::to_string(server.Port());
  client.Connect();
  EXPECT_THAT(texts, ElementsAre("Resolving hostname localhost."));
}

TEST_F(LineConnectionTest, AlreadyConnectedAndReconnectAfterDisconnect) {
  server.SendLine("one").WaitClientClose().Accept().SendLine("two");
  Connect();
  const auto e = Raised<EAlreadyConnected>([&] { client.Connect(); });
  ASSERT_TRUE(e) << "second connect accepted";
  EXPECT_STREQ(e->what(), "Already connected.");
  EXPECT_EQ(client.ReadLine(), "one");
  client.Disconnect();
  EXPECT_FALSE(client.IsConnected());
  client.Connect();
  EXPECT_EQ(client.ReadLine(), "two");
  server.Wait();
  EXPECT_EQ(server.Connections(), 2);
}

TEST(LineConnectionErrors, NotConnected) {
  TLineConnection client;
  const auto e = Raised<ENotConnected>([&] { client.ReadLine(); });
  ASSERT_TRUE(e) << "read without a connection";
  EXPECT_STREQ(e->what(), "Not Connected");
  EXPECT_THROW(client.WriteLine("x"), ENotConnected);
  EXPECT_FALSE(client.IsConnected());
}

TEST(LineConnectionErrors, RefusedConnectionKeepsWindowsSocketsNumber) {
  TLineConnection client;
  client.Host = "127.0.0.1";
  client.Port = test::FreeLoopbackPort();
  const auto e = Raised<ESocketError>([&] { client.Connect(); });
  ASSERT_TRUE(e) << "connected to a closed port";
  EXPECT_EQ(e->Code, 10061);
  EXPECT_STREQ(e->what(), "Socket Error # 10061\r\nConnection refused.");
  EXPECT_FALSE(client.IsConnected());
}

TEST(LineConnectionErrors, UnknownHostIsHostNotFound) {
  TLineConnection client;
  client.Host = "no-such-host.invalid";
  client.Port = 110;
  const auto e = Raised<ESocketError>([&] { client.Connect(); });
  ASSERT_TRUE(e) << "resolved an invalid name";
  EXPECT_EQ(e->Code, 11001);
  EXPECT_STREQ(e->what(), "Socket Error # 11001\r\nHost not found.");
  client.Host = "127.0.0.1:notaport";
  EXPECT_THROW(client.Connect(), ESocketError);
}

TEST(LineConnectionErrors, ResetByPeer) {
  TScriptServer server;
  server.Stall(100ms).ResetConnection();
  server.Start();
  TLineConnection client;
  client.Host = server.HostPort();
  client.Connect();
  server.Wait();
  const auto e = Raised<ESocketError>([&] { client.ReadLine(); });
  ASSERT_TRUE(e) << "no error after a reset";
  EXPECT_EQ(e->Code, 10054);
  EXPECT_STREQ(e->what(), "Socket Error # 10054\r\nConnection reset by peer.");
}

TEST(ServerReply, CodesFollowEachOther) {
  TServerReply reply;
  reply.SetTextCode("250");
  EXPECT_EQ(reply.NumericCode(), 250);
  reply.SetTextCode("+OK");
  EXPECT_EQ(reply.NumericCode(), 0);
  reply.SetNumericCode(354);
  EXPECT_EQ(reply.TextCode(), "354");
  reply.SetNumericCode(0);
  EXPECT_EQ(reply.TextCode(), "354");
  reply.SetTextCode("");
  EXPECT_EQ(reply.NumericCode(), 0);
  reply.Text = {"a", "b"};
  EXPECT_EQ(reply.FormattedText(), "a\r\nb\r\n");
}

TEST(HostPort, Splitting) {
  std::string host;
  int port = 0;
  ASSERT_TRUE(SplitHostPort("pop.example.com", 110, host, port));
  EXPECT_EQ(host, "pop.example.com");
  EXPECT_EQ(port, 110);
  ASSERT_TRUE(SplitHostPort("pop.example.com:995", 110, host, port));
  EXPECT_EQ(host, "pop.example.com");
  EXPECT_EQ(port, 995);
  ASSERT_TRUE(SplitHostPort("[::1]:2110", 110, host, port));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 2110);
  ASSERT_TRUE(SplitHostPort("[fe80::1]", 25, host, port));
  EXPECT_EQ(host, "fe80::1");
  EXPECT_EQ(port, 25);
  ASSERT_TRUE(SplitHostPort("::1", 110, host, port));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 110);
  EXPECT_FALSE(SplitHostPort("host:0", 110, host, port));
  EXPECT_FALSE(SplitHostPort("host:70000", 110, host, port));
  EXPECT_FALSE(SplitHostPort("host:", 110, host, port));
  EXPECT_FALSE(SplitHostPort("[::1", 110, host, port));
  EXPECT_FALSE(SplitHostPort("[::1]x", 110, host, port));
}

}  // namespace
}  // namespace pelorix

namespace pelorix {
namespace {

using test::Raised;

// A raw listening socket for address families and backlogs the fake
// server does not offer.
class TRawListener {
 public:
  TRawListener(int family, int backlog) {
    fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage addr{};
    socklen_t len = 0;
    if (family == AF_INET6) {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
      v6->sin6_family = AF_INET6;
      v6->sin6_addr = in6addr_loopback;
      len = sizeof *v6;
    } else {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
      v4->sin_family = AF_INET;
      v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      len = sizeof *v4;
    }
    ok_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
          ::listen(fd_, backlog) == 0 &&
          ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                                     : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
  }
  ~TRawListener() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  bool Ok() const { return ok_; }
  int Port() const { return port_; }
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  bool ok_ = false;
};

TEST(LineConnectionAddresses, BracketedIpv6AddressWithPort) {
  TRawListener listener(AF_INET6, 4);
  if (!listener.Ok()) {
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  std::vector<std::string> texts;
  TLineConnection client;
  client.OnStatus = [&](TConnectionStatus, const std::string& text) { texts.push_back(text); };
  client.Host = "[::1]:" + std::to_string(listener.Port());
  client.Connect();
  EXPECT_TRUE(client.IsConnected());
  EXPECT_THAT(texts, ElementsAre("Connecting to ::1.", "Connected."));
}

TEST(LineConnectionAddresses, ConnectTimeoutWhenNobodyAnswers) {
  // A listener that never accepts and whose queue is full drops new SYNs,
  // so a connect neither succeeds nor fails.
  TRawListener listener(AF_INET, 0);
  ASSERT_TRUE(listener.Ok());
  std::vector<std::unique_ptr<TLineConnection>> fillers;
  for (int i = 0; i < 4; ++i) {
    auto filler = std::make_unique<TLineConnection>();
    filler->Host = "127.0.0.1:" + std::to_string(listener.Port());
    try {
      filler->Connect(200);
    } catch (const EConnectTimeout&) {
      // the queue is full already
    }
    fillers.push_back(std::move(filler));
  }
  TLineConnection client;
  client.Host = "127.0.0.1:" + std::to_string(listener.Port());
  const auto e = Raised<EConnectTimeout>([&] { client.Connect(200); });
  ASSERT_TRUE(e) << "connected to a full queue";
  EXPECT_STREQ(e->what(), "Connect timed out.");
  EXPECT_FALSE(client.IsConnected());
}

}  // namespace
}  // namespace pelorix
