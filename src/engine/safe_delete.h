#pragma once
// A message is deleted on the server only once its whole copy is safely on
// disk in tmp/deleted/, so that every deletion can be undone.

#include <filesystem>
#include <string>
#include <string_view>

namespace pelorix {

class TMailboxSession;
class TMessageFetcher;

// Fetches message n whole (behind the commands a fetcher has in flight,
// when one is given) and keeps it. Returns empty when the copy is on disk,
// else why it could not be made; a broken connection is raised. An empty
// messageKey is read from the copy itself.
std::string KeepCopy(TMailboxSession& session, TMessageFetcher* fetcher, int n,
                     const std::filesystem::path& home, std::string_view messageKey);

// The event-log line for a message left on the server without a copy.
std::string CopyFailedLine(std::string_view accountKey, int n, std::string_view why);

}  // namespace pelorix
