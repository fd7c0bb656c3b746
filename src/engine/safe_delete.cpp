#include "engine/safe_delete.h"

#include "engine/quarantine.h"
#include "net/errors.h"
#include "net/mailbox_session.h"

namespace pelorix {

std::string KeepCopy(TMailboxSession& session, TMessageFetcher* fetcher, int n,
                     const std::filesystem::path& home, std::string_view messageKey) {
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
  if (QuarantineMessage(home, key, raw, &why).empty())
    return why.empty() ? "the copy was not written" : why;
  return {};
}

std::string CopyFailedLine(std::string_view accountKey, int n, std::string_view why) {
  return std::string(accountKey) + " 第 " + std::to_string(n) +
         " 封邮件的副本未能保存，未删除: " + std::string(why);
}

}  // namespace pelorix
