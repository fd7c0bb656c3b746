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

// Deletions waiting for their copies: the copies of a group of messages are
// written, made durable together, and only then are those messages deleted,
// all at once where the server allows.
class TDeletionWindow {
 public:
  explicit TDeletionWindow(const std::filesystem::path& home) : batch_(home) {}
  // Message n (of `size` listed bytes) joins the group; its copy is fetched
  // with the group's, at Flush.
  void Add(int n, std::string messageKey, long long size);
  // Fetches message n whole now and writes its copy, not yet durable;
  // empty, or why the copy cannot be made (not to be deleted then).
  std::string Keep(TMailboxSession& session, TMessageFetcher* fetcher, int n,
                   std::string_view messageKey);
  bool Full() const;
  bool Empty() const { return numbers_.empty(); }
  // Fetches what was added, makes every copy durable, deletes the messages
  // whose copy is on disk and hands the others to `failed` with the reason.
  // Returns those deleted. A broken connection is raised; nothing of the
  // group is deleted then.
  std::vector<int> Flush(TMailboxSession& session, TMessageFetcher* fetcher,
                         const std::function<void(int, const std::string&)>& failed);

 private:
  struct TWaiting {
    int Number;
    std::string Key;
  };
  TCopyBatch batch_;
  std::vector<TWaiting> waiting_;  // added, not fetched yet
  long long waitingBytes_ = 0;
  std::vector<int> numbers_;  // every message of the group, in order
  std::vector<int> batched_;  // those whose copy is in the batch, in its order
};

// The event-log line for a message left on the server without a copy.
std::string CopyFailedLine(std::string_view accountKey, int n, std::string_view why);

}  // namespace pelorix
