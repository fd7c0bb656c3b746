#include "engine/letter_fetch.h"

#include <cstdlib>

#include "engine/account_secret.h"
#include "engine/failure_cause.h"
#include "engine/mail_list.h"
#include "engine/message_file.h"
#include "engine/record_files.h"
#include "engine/run_state.h"
#include "mime/mail_message.h"
#include "net/pop3_session.h"
#include "store/accounts.h"
#include "store/atomic_file.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix {

namespace fs = std::filesystem;

namespace {

std::string Trim(std::string_view s) {
  return std::string(ascii::Trim(s));
}

// Disconnects whatever happened; QUIT ends a session that changed nothing.
class TSessionCloser {
 public:
  explicit TSessionCloser(TPop3Session& session) : session_(session) {}
  ~TSessionCloser() {
    try {
      if (session_.IsConnected())
        session_.Disconnect();
    } catch (...) {
    }
  }
  TSessionCloser(const TSessionCloser&) = delete;
  TSessionCloser& operator=(const TSessionCloser&) = delete;

 private:
  TPop3Session& session_;
};

bool KeyAt(TPop3Session& session, int n, const std::string& key) {
  TMailMessage header;
  return session.FetchHeader(n, header) && Trim(header.MessageId) == key;
}

}  // namespace

bool LetterBodyMissing(const fs::path& home, const TMailRow& row) {
  const std::string key = KeyFileName(Trim(row.Items[mcMessageKey]));
  if (key.empty())
    return false;
  std::error_code ec;
  for (const fs::path& folder : {TmpFolder(home), DeletedFolder(home)}) {
    if (fs::is_regular_file(BodyFilePath(folder, key), ec))
      return false;
  }
  return true;
}

std::optional<TLetterFetch> LetterFetchOf(TSettingsStore& store, const TMailRow& row) {
  const std::string key = Trim(row.Items[mcMessageKey]);
  const std::string account = Trim(row.Items[mcAccountKey]);
  // A message deleted on its server is shown from its kept copy, if at all.
  if (key.empty() || KeyFileName(key).empty() || Trim(row.Items[mcDeletionMark]) == "Deleted")
    return std::nullopt;
  for (const TAccount& a : LoadAccounts(store)) {
    if (Trim(AccountKey(a)) != account)
      continue;
    TLetterFetch fetch;
    fetch.Account = SplitQueueEntry(AccountQueueEntry(a));
    fetch.MessageKey = key;
    fetch.Number = std::atoi(Trim(row.Items[mcNumber]).c_str());
    return fetch;
  }
  return std::nullopt;
}

bool FetchLettersOnDemand(TSettingsStore& store) {
  TSettingsKey key;
  return !OpenSettingsKey(store, kMailCheckKey, false, key) ||
         ReadFlagValue(key, "FetchLetters", true);
}

TLetterFetchResult FetchLetter(const fs::path& home, const TLetterFetch& fetch,
                               const TRunState& state, const std::atomic<bool>* stop) {
  const std::string& server = fetch.Account.Server;
  const std::string& user = fetch.Account.User;
  TLetterFetchResult result;
  try {
    TQueueEntry account = fetch.Account;
    // Fetched here, on the fetch's own thread, like a worker's.
    if (const std::string problem = TakeAccountToken(state.Store, account); !problem.empty()) {
      result.Line = server + "[" + user + "]: " + problem;
      return result;
    }
    TPop3Session session;
    PrepareSession(session, account, state);
    TSessionCloser closer(session);
    session.Connect();
    if (!session.IsConnected()) {
      result.Line = "无法连接到 " + server + "[" + user + "]，信件内容未能取回。";
      return result;
    }
    const long long count = session.MessageCount();
    // The row's number first; numbers move when mail is deleted, keys do not.
    int found = 0;
    if (fetch.Number >= 1 && fetch.Number <= count &&
        KeyAt(session, fetch.Number, fetch.MessageKey))
      found = fetch.Number;
    for (long long n = 1; found == 0 && n <= count; ++n) {
      if (stop && stop->load())
        return result;
      if (n != fetch.Number && KeyAt(session, static_cast<int>(n), fetch.MessageKey))
        found = static_cast<int>(n);
    }
    if (found == 0) {
      result.Status = TLetterFetchStatus::Gone;
      result.Line = "服务器 " + server + " 上已经没有这封信（信件标识 " + fetch.MessageKey + "）。";
      return result;
    }
    TMailMessage message;
    if (!session.FetchMessage(found, message) || Trim(message.MessageId) != fetch.MessageKey) {
      result.Status = TLetterFetchStatus::Gone;
      result.Line = "服务器 " + server + " 上的这封信已经改变，信件内容未能取回。";
      return result;
    }
    const fs::path tmp = TmpFolder(home);
    const std::string key = KeyFileName(fetch.MessageKey);
    const fs::path body = BodyFilePath(tmp, key);
    std::string error;
    std::error_code ec;
    const fs::path header = HeaderFilePath(tmp, key);
    if ((!fs::exists(header, ec) &&
         !store::WriteFileAtomic(header, HeaderFileText(message), &error)) ||
        !store::WriteFileAtomic(body, BodyFileText(BodyLines(message)), &error)) {
      result.Line = "无法保存信件：" + error;
      return result;
    }
    HtmlFileToText(body, false);
    result.Status = TLetterFetchStatus::Fetched;
    result.Line = "信件内容已从 " + server + " 取回。";
  } catch (const std::exception& failure) {
    result.Status = TLetterFetchStatus::Failed;
    result.Line = FailureCauseLine(user, server, failure);
  }
  return result;
}

}  // namespace pelorix
