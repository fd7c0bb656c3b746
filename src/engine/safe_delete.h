#pragma once
// A message is deleted on the server only once its whole copy is safely on
// disk in tmp/deleted/, so that every deletion can be undone.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/quarantine.h"

namespace pelorix {

class TMailboxSession;
class TMessageFetcher;

// Fetches message n whole (behind the commands a fetcher has in flight,
// when one is given) and keeps it. Returns empty when the copy is on disk,
// else why it could not be made; a broken connection is raised. An empty
// messageKey is read from the copy itself.
std::string KeepCopy(TMailboxSession& session, TMessageFetcher* fetcher, int n,
                     const std::filesystem::path& home, std::string_view messageKey);

// Deletions waiting for their copies: the copies of a group of messages are
// written, made durable together, and only then are those messages deleted.
class TDeletionWindow {
 public:
  explicit TDeletionWindow(const std::filesystem::path& home) : batch_(home) {}
  // Fetches message n whole and writes its copy, not yet durable; empty, or
  // why the copy cannot be made (the message is not to be deleted then).
  std::string Add(TMailboxSession& session, TMessageFetcher* fetcher, int n,
                  std::string_view messageKey);
  bool Full() const { return batch_.Full(); }
  bool Empty() const { return numbers_.empty(); }
  // Makes the copies durable; then deletes each message whose copy is on
  // disk through `remove`, and hands the others to `failed` with the reason.
  void Flush(const std::function<void(int)>& remove,
             const std::function<void(int, const std::string&)>& failed);

 private:
  TCopyBatch batch_;
  std::vector<int> numbers_;
};

// The event-log line for a message left on the server without a copy.
std::string CopyFailedLine(std::string_view accountKey, int n, std::string_view why);

}  // namespace pelorix
