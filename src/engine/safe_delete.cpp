#include "engine/safe_delete.h"

#include "net/errors.h"
#include "net/mailbox_session.h"

namespace pelorix {

namespace {

// Message n as it came, into the batch; empty or why not.
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

std::string KeepCopy(TMailboxSession& session, TMessageFetcher* fetcher, int n,
                     const std::filesystem::path& home, std::string_view messageKey) {
  TCopyBatch batch(home);
  std::string why = FetchCopy(session, fetcher, n, batch, messageKey);
  return why.empty() ? batch.Commit().front() : why;
}

std::string TDeletionWindow::Add(TMailboxSession& session, TMessageFetcher* fetcher, int n,
                                 std::string_view messageKey) {
  std::string why = FetchCopy(session, fetcher, n, batch_, messageKey);
  if (why.empty())
    numbers_.push_back(n);
  return why;
}

void TDeletionWindow::Flush(const std::function<void(int)>& remove,
                            const std::function<void(int, const std::string&)>& failed) {
  const std::vector<int> numbers = std::move(numbers_);
  numbers_.clear();
  const std::vector<std::string> why = batch_.Commit();
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (why[i].empty())
      remove(numbers[i]);
    else
      failed(numbers[i], why[i]);
  }
}

std::string CopyFailedLine(std::string_view accountKey, int n, std::string_view why) {
  return std::string(accountKey) + " 第 " + std::to_string(n) +
         " 封邮件的副本未能保存，未删除: " + std::string(why);
}

}  // namespace pelorix
