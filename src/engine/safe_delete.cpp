#include "engine/safe_delete.h"

#include <algorithm>
#include <map>

#include "net/errors.h"
#include "net/mailbox_session.h"

namespace pelorix {

namespace {

// Message n whole (behind the commands a fetcher has in flight), into the
// batch; empty or why not. A broken connection is raised.
std::string FetchCopy(TMailboxSession& session, TMessageFetcher* fetcher, int n, TCopyBatch& batch,
                      std::string_view messageKey) {
  std::string raw;
  try {
    const bool fetched = fetcher ? fetcher->Retrieve(n, raw) : session.RetrieveRaw(n, raw);
    if (!fetched)
      return session.RefusalText(n);
  } catch (const EConnectionError&) {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  }
  const std::string key = messageKey.empty() ? MessageIdOf(raw) : std::string(messageKey);
  std::string why;
  if (!batch.Add(key, std::move(raw), &why))
    return why.empty() ? "the copy was not written" : why;
  return {};
}

}  // namespace

void TDeletionWindow::Add(int n, std::string messageKey, long long size) {
  waiting_.push_back({n, std::move(messageKey)});
  waitingBytes_ += std::max(0LL, size);
  numbers_.push_back(n);
}

std::string TDeletionWindow::Keep(TMailboxSession& session, TMessageFetcher* fetcher, int n,
                                  std::string_view messageKey) {
  std::string why = FetchCopy(session, fetcher, n, batch_, messageKey);
  if (why.empty()) {
    numbers_.push_back(n);
    batched_.push_back(n);
  }
  return why;
}

bool TDeletionWindow::Full() const {
  return numbers_.size() >= TCopyBatch::kMessages ||
         batch_.Bytes() + static_cast<std::size_t>(waitingBytes_) >= TCopyBatch::kBytes;
}

std::vector<int> TDeletionWindow::Flush(
    TMailboxSession& session, TMessageFetcher* fetcher,
    const std::function<void(int, const std::string&)>& failed) {
  std::vector<int> numbers = std::move(numbers_);
  numbers_.clear();
  std::vector<int> batched = std::move(batched_);
  batched_.clear();
  std::vector<TWaiting> waiting = std::move(waiting_);
  waiting_.clear();
  waitingBytes_ = 0;
  if (numbers.empty())
    return {};
  // The copies still to fetch come in one go; each may be refused alone.
  std::map<int, std::string> refused;
  if (fetcher && !waiting.empty()) {
    std::vector<int> wanted;
    for (const TWaiting& w : waiting)
      wanted.push_back(w.Number);
    fetcher->Prefetch(wanted);
  }
  for (const TWaiting& w : waiting) {
    if (std::string why = FetchCopy(session, fetcher, w.Number, batch_, w.Key); !why.empty())
      refused[w.Number] = std::move(why);
    else
      batched.push_back(w.Number);
  }
  const std::vector<std::string> why = batch_.Commit();
  for (std::size_t i = 0; i < batched.size(); ++i) {
    if (!why[i].empty())
      refused[batched[i]] = why[i];
  }
  std::vector<int> kept;
  for (const int n : numbers) {
    if (const auto r = refused.find(n); r != refused.end())
      failed(n, r->second);
    else
      kept.push_back(n);
  }
  if (fetcher) {
    fetcher->DeleteEach(kept);
  } else {
    for (const int n : kept)
      session.DeleteMessage(n);
  }
  return kept;
}

std::string CopyFailedLine(std::string_view accountKey, int n, std::string_view why) {
  return std::string(accountKey) + " 第 " + std::to_string(n) +
         " 封邮件的副本未能保存，未删除: " + std::string(why);
}

}  // namespace pelorix
