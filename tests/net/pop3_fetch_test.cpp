// The fetcher against the in-memory mailbox: pipelined answers must be the
// sequential ones, whatever the chunking, the long lines and the failures.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "mime/mail_message.h"
#include "net/errors.h"
#include "net/pop3_fetch.h"
#include "net/pop3_session.h"
#include "support/fake_server.h"

namespace pelorix {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// What one fetch left: enough to tell two readings apart.
struct TFetched {
  std::vector<std::string> Headers, Body;
  std::string Subject;
  bool Fetched = false, Truncated = false, Failed = false;
  bool operator==(const TFetched&) const = default;
};

TFetched Take(const TMailMessage& msg, bool fetched, bool failed) {
  return {msg.Headers.Lines, msg.Body, msg.Subject, fetched, msg.Truncated, failed};
}

// Over the line connection's 16,384-byte limit for single replies.
const std::string kLong(40 * 1024, 'x');

std::vector<std::string> Mailbox() {
  return {"Subject: one\nX-Wide: " + kLong + "\n\nshort\n",
          "Subject: two\n\n" + kLong + "\n.dot\nend\n", "Subject: three\n\nthree\n",
          "Subject: four\n\nfour\n", "Subject: five\nFrom: a@example.org\n\nfive\n"};
}

struct TServed {
  test::TPop3Mailbox box;

  TServed(bool pipelining, std::size_t piece, bool batch) {
    box.AddUser("bob", "pw", Mailbox());
    if (pipelining)
      box.SetCapabilities({"TOP", "UIDL", "PIPELINING"});
    box.SetChunking(piece, batch);
    box.ReplaceReply("TOP 4", "-ERR gone");
    box.ReplaceReply("RETR 4", "-ERR gone");
    box.Start();
  }
  void Connect(TPop3Session& session) {
    session.Host = box.HostPort();
    session.Username = "bob";
    session.Password = "pw";
    session.ReadTimeout = 10000;
    session.Connect();
  }
  void WaitForQuit() {
    for (int i = 0; i < 500 && box.Quits() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
};

// Runs `fetch(n, msg)` for messages 1..count, then `after(n)` for each.
template <typename Fetch, typename After>
std::vector<TFetched> Collect(int count, Fetch fetch, After after) {
  std::vector<TFetched> out;
  TMailMessage msg;
  for (int n = 1; n <= count; ++n) {
    msg.Clear();
    bool fetched = false, failed = false;
    try {
      fetched = fetch(n, msg);
    } catch (const EProtocolReplyError&) {
      failed = true;
    }
    out.push_back(Take(msg, fetched, failed));
    after(n);
  }
  return out;
}

// The reference: one command, one answer, as the session always did it.
std::vector<TFetched> Sequential(TPop3Session& session, int count, bool whole) {
  return Collect(
      count,
      [&](int n, TMailMessage& msg) {
        return whole ? session.FetchMessage(n, msg) : session.FetchHeader(n, msg);
      },
      [](int) {});
}

std::vector<TFetched> Fetched(TPop3Fetcher& fetcher, int count, int deleteAt) {
  return Collect(
      count, [&](int, TMailMessage& msg) { return fetcher.Next(msg); },
      [&](int n) {
        if (n == deleteAt)
          fetcher.Delete(n);
      });
}

TEST(Pop3Fetch, PipelinedAnswersAreTheSequentialOnesInEveryChunking) {
  std::vector<TFetched> reference[2];
  {
    TServed plain(false, 0, false);
    TPop3Session session;
    plain.Connect(session);
    reference[0] = Sequential(session, 5, false);
    reference[1] = Sequential(session, 5, true);
    session.Disconnect();
  }
  // Long lines arrive whole and in step; "-ERR" touches one message only.
  ASSERT_EQ(reference[0].size(), 5u);
  EXPECT_THAT(reference[0][0].Headers, ElementsAre("Subject: one", "X-Wide: " + kLong));
  EXPECT_THAT(reference[1][1].Body, ElementsAre(kLong, ".dot", "end"));
  EXPECT_EQ(reference[1][2].Subject, "three");
  EXPECT_TRUE(reference[0][3].Failed);
  EXPECT_FALSE(reference[1][3].Fetched);
  EXPECT_EQ(reference[0][4].Subject, "five");

  struct TCase {
    bool pipelining;
    std::size_t piece;
    bool batch;
  };
  for (const TCase c : {TCase{true, 0, true}, TCase{true, 1, false}, TCase{true, 4093, true},
                        TCase{false, 3, false}}) {
    for (const bool whole : {false, true}) {
      SCOPED_TRACE(testing::Message() << "pipelining " << c.pipelining << " piece " << c.piece
                                      << " batch " << c.batch << " whole " << whole);
      TServed served(c.pipelining, c.piece, c.batch);
      TPop3Session session;
      served.Connect(session);
      const TPop3Listing listing = session.List(session.MessageCount());
      ASSERT_TRUE(listing.Complete);
      // A small window, so that it refills and a DELE lands inside one.
      TPipelineLimits limits;
      limits.MaxCommands = 3;
      const auto fetcher = MakeFetcher(
          session, listing, [whole](long long) { return whole; }, limits);
      ASSERT_TRUE(fetcher);
      EXPECT_EQ(fetcher->Pipelined(), c.pipelining);
      EXPECT_EQ(Fetched(*fetcher, 5, 3), reference[whole ? 1 : 0]);
      EXPECT_TRUE(fetcher->Done());
      EXPECT_EQ(session.MessageCount(), 4);  // the DELE was answered in order
      session.Disconnect();
      served.WaitForQuit();
      const auto left = served.box.Messages("bob");
      ASSERT_EQ(left.size(), 4u);
      EXPECT_THAT(left[2], HasSubstr("Subject: four"));
      if (c.pipelining) {
        EXPECT_GT(served.box.MostCommandsAhead(), 0);
      } else {
        EXPECT_EQ(served.box.MostCommandsAhead(), 0);
      }
    }
  }
}

TEST(Pop3Fetch, DrainLeavesTheSessionReadyForRset) {
  TServed served(true, 0, true);
  TPop3Session session;
  served.Connect(session);
  const TPop3Listing listing = session.List(5);
  const auto fetcher = MakeFetcher(session, listing, [](long long) { return true; });
  TMailMessage msg;
  fetcher->Next(msg);
  fetcher->Delete(1);
  fetcher->Drain();
  EXPECT_TRUE(session.ResetSession());
  EXPECT_EQ(session.MessageCount(), 5);
  session.Disconnect();
  served.WaitForQuit();
  EXPECT_EQ(served.box.Messages("bob").size(), 5u);
}

TEST(Pop3Fetch, ARawRetrieveBehindTheWindowGetsTheMessageAsSentAndKeepsTheOrder) {
  for (const std::size_t piece : {std::size_t{0}, std::size_t{1}}) {
    SCOPED_TRACE(piece);
    TServed served(true, piece, true);
    TPop3Session session;
    served.Connect(session);
    TPipelineLimits limits;
    limits.MaxCommands = 3;
    const auto fetcher = MakeFetcher(
        session, session.List(5), [](long long) { return false; }, limits);
    TMailMessage msg;
    fetcher->Next(msg);
    std::string raw;
    ASSERT_TRUE(fetcher->Retrieve(2, raw));
    EXPECT_EQ(raw, "Subject: two\r\n\r\n" + kLong + "\r\n.dot\r\nend\r\n");
    EXPECT_FALSE(fetcher->Retrieve(4, raw));
    for (const char* subject : {"two", "three"}) {
      msg.Clear();
      fetcher->Next(msg);
      EXPECT_EQ(msg.Subject, subject);
    }
    session.Disconnect();
  }
}

TEST(Pop3Fetch, ALineBeyondTheModelsCapIsCutAndTheReadingStaysInStep) {
  TServed served(true, 0, true);
  TPop3Session session;
  served.Connect(session);
  TMailMessage msg;
  msg.Limits.MaxBodyBytes = 1000;
  msg.Limits.MaxHeaderBytes = 1000;
  ASSERT_TRUE(session.FetchMessage(2, msg));
  EXPECT_TRUE(msg.Truncated);
  EXPECT_EQ(msg.Subject, "two");
  msg.Clear();
  ASSERT_TRUE(session.FetchHeader(1, msg));
  EXPECT_TRUE(msg.Truncated);
  EXPECT_THAT(msg.Headers.Lines, ElementsAre("Subject: one"));
  msg.Clear();
  ASSERT_TRUE(session.FetchHeader(3, msg));
  EXPECT_EQ(msg.Subject, "three");
  EXPECT_FALSE(msg.Truncated);
  session.Disconnect();
}

TEST(Pop3Fetch, TheListingStandsInForListNOnlyWhenWholeAndSane) {
  struct TCase {
    std::string listing;
    long long total;
    bool complete;
  };
  const std::vector<TCase> cases = {
      {"+OK\r\n1 10\r\n2 20\r\n3 x\r\n.", 30, true},
      {"+OK\r\n1 10\r\n3 30\r\n.", 40, false},                 // message 2 missing
      {"+OK\r\n1 10\r\n2 20\r\n2 20\r\n3 1\r\n.", 51, false},  // twice
      {"+OK\r\n1 10\r\n\r\n2 20\r\n3 1\r\n.", 10, false},      // the sum ends
      {"+OK\r\n1 9223372036854775000\r\n2 1\r\n3 1\r\n.", -1, false},
      {"+OK\r\n1 -5\r\n2 1\r\n3 1\r\n.", -1, false},
      {"+OK\r\n1 1000000000000\r\n2 1000000000000\r\n3 1000000000000\r\n.", 3000000000000, true},
      {"-ERR no", -1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.listing);
    test::TPop3Mailbox box;
    box.AddUser("bob", "pw", {"a\n\n", "b\n\n", "c\n\n"});
    box.ReplaceReply("LIST", c.listing);
    box.Start();
    TPop3Session session;
    session.Host = box.HostPort();
    session.Username = "bob";
    session.Password = "pw";
    session.ReadTimeout = 5000;
    session.Connect();
    const TPop3Listing listing = session.List(3);
    EXPECT_EQ(listing.Total, c.total);
    EXPECT_EQ(listing.Complete, c.complete);
    if (c.complete) {
      EXPECT_EQ(listing.Sizes[2], c.total == 30 ? -1 : 1000000000000);
    }
    EXPECT_EQ(session.MessageCount(), 3);  // in step after any listing
    session.Disconnect();
  }
}

}  // namespace
}  // namespace pelorix
