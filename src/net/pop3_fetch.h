#pragma once
// Fetches a mailbox's messages in order over one POP3 session. Where the
// server allows PIPELINING, "TOP n 0" / "RETR n" go out in a window ahead of
// the answers being read, bounded by count and by expected bytes; elsewhere
// each command waits for its answer. Either way the caller sees the same
// answers, one message at a time, in message order.

#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mime/mail_message.h"
#include "net/mailbox_session.h"

namespace pelorix {

class TPop3Session;
struct TPop3Listing;

struct TFetchItem {
  int Number = 0;
  bool Whole = false;   // RETR instead of TOP n 0
  long long Size = -1;  // from the listing, for the byte bound
};

struct TPipelineLimits {
  std::size_t MaxCommands = 128;          // commands whose answers are awaited
  long long MaxBytes = 4LL << 20;         // bytes those answers are expected to bring
  long long HeaderEstimate = 16LL << 10;  // what a header answer is counted as at most
};

class TPop3Fetcher : public TMessageFetcher {
 public:
  TPop3Fetcher(TPop3Session& session, std::vector<TFetchItem> items, bool pipelined,
               TPipelineLimits limits = {});
  TPop3Fetcher(const TPop3Fetcher&) = delete;
  TPop3Fetcher& operator=(const TPop3Fetcher&) = delete;

  bool Pipelined() const { return pipelined_; }
  bool Done() const { return next_ >= items_.size(); }

  // The next item's answer into msg (cleared by the caller). Raises what
  // FetchHeader / FetchMessage would raise for it: a connection failure
  // leaves the session out of step; any other error concerns this message
  // only. RETR answered "-ERR" returns false, as FetchMessage does.
  bool Next(TMailMessage& msg) override;
  // DELE n, in order after every command sent so far; the answers before
  // it are read and kept for Next. Raises on "-ERR" as DeleteMessage does.
  bool Delete(int n) override;
  // RETR n kept raw (TPop3Session::RetrieveRaw), in order after every
  // command sent so far, the answers before it kept for Next.
  bool Retrieve(int n, std::string& raw) override;
  // Sends nothing more and reads the answers still on their way, dropping
  // them, so that the session can take a new command (RSET).
  void Drain() override;
  // RETR of each in one write behind those in flight, when pipelined.
  void Prefetch(const std::vector<int>& numbers) override;
  // DELE of each in one write, when pipelined; every answer is read before
  // a refusal is raised, so the session stays in step.
  void DeleteEach(const std::vector<int>& numbers) override;

 private:
  struct TRead {
    TMailMessage Message;
    bool Fetched = false;
    std::exception_ptr Error;
  };
  // Sends more commands while the window allows (at least one in flight).
  void Fill(bool force);
  long long Expected(const TFetchItem& item) const;
  // Writes a command behind those in flight and reads the answers before
  // its own; false when nothing was in flight (nothing written then).
  bool SendBehind(const std::string& command);
  // Writes the commands behind those in flight and reads the answers
  // before theirs.
  void SendAllBehind(const std::string& commands);
  // Reads the answer of the oldest command in flight into a kept result.
  void ReadAhead();
  bool ReadInto(const TFetchItem& item, TMailMessage& msg);

  TPop3Session& session_;
  // RETRs sent by Prefetch whose answers Retrieve has yet to take.
  std::deque<int> prefetched_;
  std::vector<TFetchItem> items_;
  bool pipelined_;
  TPipelineLimits limits_;
  std::size_t next_ = 0;  // item Next returns
  std::size_t sent_ = 0;  // items whose command has been written
  long long inFlightBytes_ = 0;
  std::deque<TRead> kept_;  // answers read ahead, items next_ onwards
};

// Whether the server takes commands ahead of their answers (RFC 2449
// PIPELINING), asking CAPA once per connection. A server that cannot say
// is treated as one that does not.
bool ServerPipelines(TPop3Session& session);

// A fetcher for messages 1..count when the listing can stand in for
// "LIST n" (nothing otherwise: the walk then asks LIST n itself).
// `whole(size)` chooses RETR over TOP n 0. Commands are pipelined when
// the mailbox has more than one message and the server allows it.
std::unique_ptr<TPop3Fetcher> MakeFetcher(TPop3Session& session, const TPop3Listing& listing,
                                          const std::function<bool(long long)>& whole,
                                          TPipelineLimits limits = {});

}  // namespace pelorix
