#include "net/pop3_fetch.h"

#include <algorithm>
#include <string>

#include "net/errors.h"
#include "net/pop3_session.h"

namespace pelorix {

namespace {

std::string Command(const TFetchItem& item, int peekLines) {
  return item.Whole ? "RETR " + std::to_string(item.Number)
                    : "TOP " + std::to_string(item.Number) + " " + std::to_string(peekLines);
}

}  // namespace

TPop3Fetcher::TPop3Fetcher(TPop3Session& session, std::vector<TFetchItem> items, bool pipelined,
                           TPipelineLimits limits)
    : session_(session), items_(std::move(items)), pipelined_(pipelined), limits_(limits) {
  limits_.MaxCommands = std::max<std::size_t>(limits_.MaxCommands, 1);
}

long long TPop3Fetcher::Expected(const TFetchItem& item) const {
  // Sizes come from the server: an unknown or absurd one counts as the
  // whole byte bound, so such a message travels alone.
  const long long size =
      item.Size < 0 || item.Size > limits_.MaxBytes ? limits_.MaxBytes : item.Size;
  // A peek brings a few body lines more than a header.
  return item.Whole
             ? size
             : std::min(size, limits_.HeaderEstimate + 256LL * std::max(0, session_.PeekLines));
}

void TPop3Fetcher::Fill(bool force) {
  std::size_t inFlight = sent_ - next_ - kept_.size();
  // Topped up in batches: one write and one packet for many commands.
  if (!force && inFlight > 0 &&
      (inFlight * 2 > limits_.MaxCommands || inFlightBytes_ * 2 > limits_.MaxBytes)) {
    return;
  }
  std::string batch;
  while (sent_ < items_.size() && inFlight < limits_.MaxCommands) {
    const long long bytes = Expected(items_[sent_]);
    if (inFlight > 0 && inFlightBytes_ + bytes > limits_.MaxBytes) {
      break;
    }
    batch += Command(items_[sent_], std::max(0, session_.PeekLines));
    batch += "\r\n";
    inFlightBytes_ += bytes;
    ++sent_;
    ++inFlight;
  }
  if (!batch.empty()) {
    session_.Write(batch);
  }
}

bool TPop3Fetcher::ReadInto(const TFetchItem& item, TMailMessage& msg) {
  inFlightBytes_ -= Expected(item);
  return item.Whole || session_.PeekLines > 0 ? session_.ReadMessageAnswer(msg)
                                              : session_.ReadHeaderAnswer(msg);
}

void TPop3Fetcher::ReadAhead() {
  const TFetchItem& item = items_[next_ + kept_.size()];
  TRead read;
  try {
    read.Fetched = ReadInto(item, read.Message);
  } catch (const EConnectionError&) {
    throw;
  } catch (const std::exception&) {
    read.Error = std::current_exception();
  }
  kept_.push_back(std::move(read));
}

bool TPop3Fetcher::Next(TMailMessage& msg) {
  if (Done()) {
    throw EPelorixError("No message left to fetch.");
  }
  const TFetchItem& item = items_[next_];
  if (!kept_.empty()) {
    TRead read = std::move(kept_.front());
    kept_.pop_front();
    ++next_;
    msg = std::move(read.Message);
    if (read.Error) {
      std::rethrow_exception(read.Error);
    }
    return read.Fetched;
  }
  if (pipelined_) {
    Fill(false);
  } else {
    session_.WriteLine(Command(item, std::max(0, session_.PeekLines)));
    sent_ = next_ + 1;
    inFlightBytes_ += Expected(item);
  }
  ++next_;
  return ReadInto(item, msg);
}

bool TPop3Fetcher::SendBehind(const std::string& command) {
  const std::size_t ahead = sent_;
  if (ahead == next_ + kept_.size()) {
    return false;
  }
  // The command goes behind those in flight, and the window is topped up
  // behind it; only the answers before its own are read now.
  session_.WriteLine(command);
  while (next_ + kept_.size() < ahead) {
    ReadAhead();
  }
  return true;
}

bool TPop3Fetcher::Delete(int n) {
  if (!SendBehind("DELE " + std::to_string(n))) {
    return session_.DeleteMessage(n);
  }
  session_.ReadReply();
  session_.CheckReply({1});
  return true;
}

bool TPop3Fetcher::Retrieve(int n, std::string& raw) {
  if (!prefetched_.empty()) {
    if (prefetched_.front() != n)
      throw EPelorixError("Messages asked for out of order.");
    prefetched_.pop_front();
    return session_.ReadRawMessageAnswer(raw);
  }
  if (!SendBehind("RETR " + std::to_string(n))) {
    return session_.RetrieveRaw(n, raw);
  }
  return session_.ReadRawMessageAnswer(raw);
}

void TPop3Fetcher::SendAllBehind(const std::string& commands) {
  const std::size_t ahead = sent_;
  session_.Write(commands);
  while (next_ + kept_.size() < ahead) {
    ReadAhead();
  }
}

void TPop3Fetcher::Prefetch(const std::vector<int>& numbers) {
  if (!pipelined_ || numbers.empty() || !prefetched_.empty())
    return;
  std::string commands;
  for (const int n : numbers)
    commands += "RETR " + std::to_string(n) + "\r\n";
  SendAllBehind(commands);
  prefetched_.assign(numbers.begin(), numbers.end());
}

void TPop3Fetcher::DeleteEach(const std::vector<int>& numbers) {
  if (!pipelined_ || numbers.size() < 2 || !prefetched_.empty()) {
    TMessageFetcher::DeleteEach(numbers);
    return;
  }
  std::string commands;
  for (const int n : numbers)
    commands += "DELE " + std::to_string(n) + "\r\n";
  SendAllBehind(commands);
  std::exception_ptr refused;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    session_.ReadReply();
    try {
      session_.CheckReply({1});
    } catch (const EConnectionError&) {
      throw;
    } catch (const std::exception&) {
      if (!refused)
        refused = std::current_exception();
    }
  }
  if (refused)
    std::rethrow_exception(refused);
}

void TPop3Fetcher::Drain() {
  for (; !prefetched_.empty(); prefetched_.pop_front())
    session_.SkipAnswer();
  while (next_ + kept_.size() < sent_) {
    session_.SkipAnswer();
    ++next_;
  }
  kept_.clear();
  next_ = sent_ = items_.size();
  inFlightBytes_ = 0;
}

bool ServerPipelines(TPop3Session& session) {
  if (!session.CapabilitiesKnown()) {
    try {
      session.Capa();
    } catch (const EConnectionError&) {
      throw;
    } catch (const std::exception&) {
      return false;
    }
  }
  return session.HasCapability("PIPELINING");
}

std::unique_ptr<TPop3Fetcher> MakeFetcher(TPop3Session& session, const TPop3Listing& listing,
                                          const std::function<bool(long long)>& whole,
                                          TPipelineLimits limits) {
  if (!listing.Complete) {
    return nullptr;
  }
  std::vector<TFetchItem> items;
  items.reserve(listing.Sizes.size());
  for (std::size_t i = 0; i < listing.Sizes.size(); ++i) {
    const long long size = listing.Sizes[i];
    items.push_back({static_cast<int>(i + 1), whole(size), size});
  }
  const bool pipelined = items.size() > 1 && ServerPipelines(session);
  return std::make_unique<TPop3Fetcher>(session, std::move(items), pipelined, limits);
}

}  // namespace pelorix
