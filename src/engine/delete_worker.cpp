#include "engine/delete_worker.h"

#include <unordered_map>

#include "engine/account_secret.h"
#include "engine/check_worker.h"
#include "engine/failure_cause.h"
#include "engine/learn_sources.h"
#include "engine/record_files.h"
#include "engine/safe_delete.h"
#include "mime/mail_message.h"
#include "net/errors.h"
#include "net/mailbox_session.h"
#include "net/pop3_session.h"
#include "store/accounts.h"
#include "text/textutil.h"

#include "text/asciiutil.h"

namespace pelorix {

namespace fs = std::filesystem;

namespace {

std::string Trim(std::string_view s) {
  return std::string(ascii::Trim(s));
}

// A stop on an IMAP account takes effect before the next command only.
constexpr const char kImapStopped[] = " 已停止: ";
constexpr const char kNoReset[] = "IMAP 没有 RSET，停止前已移走的信件不会撤回";

// A row this session marked, with what it showed before, so that a
// withdrawn session (stop, failure before QUIT) can give it back.
struct TMark {
  std::size_t Index;
  int Number;  // the message on the server
  std::string DeletionMark;
  std::string Size;
};

class TAccountDeletion {
 public:
  TAccountDeletion(TRunState& state, TFrontEndSink& sink, TMailboxSession& session,
                   TMailMessage& message, const TQueueEntry& entry,
                   const std::atomic<bool>& terminated)
      : state_(state),
        sink_(sink),
        session_(session),
        message_(message),
        entry_(entry),
        key_(entry.User + "[" + entry.Server + "]"),
        terminated_(terminated) {}

  void Say(std::string text) { state_.Say(sink_, std::move(text)); }

  // Returns the number of messages the server was told to delete and
  // received QUIT for; throws when the account fails.
  int Run();
  // Gives back the marks of a session whose deletions did not take effect.
  void Withdraw();
  // Closes the connection without QUIT: the server then deletes nothing.
  void Abandon();

 private:
  void Walk(long long count, const TPop3Listing& listing);
  bool MarkRow(int n, long long size);
  // Gives back the mark of message n, whose copy could not be made.
  void NoCopy(int n, const std::string& why);
  // Message references of this account's ticked rows.
  std::vector<std::string> TickedRefs();
  // Gives back the marks whose deletion the server did not carry out.
  void KeepCarriedOut();
  void GiveBack(const TMark& mark);
  // Rows of this account by trimmed message key, in list order.
  void IndexRows();
  void WriteBack();

  TRunState& state_;
  TFrontEndSink& sink_;
  TMailboxSession& session_;
  TMailMessage& message_;
  const TQueueEntry& entry_;
  const std::string key_;
  const std::atomic<bool>& terminated_;
  std::vector<TMark> marks_;
  std::unordered_map<std::string, std::vector<std::size_t>> rowsByKey_;
  bool quitSent_ = false;
};

int TAccountDeletion::Run() {
  if (session_.IsConnected())
    session_.Disconnect();
  session_.Connect();
  if (!session_.IsConnected())
    return 0;
  const long long count = session_.MessageCount();
  const TPop3Listing listing = count >= 1 ? session_.List(static_cast<int>(count)) : TPop3Listing{};
  const long long kb = count >= 1 ? listing.Total / 1000 : 0;
  Say("检测到 " + std::to_string(count) + " 封信件在" + entry_.Server + "[" + entry_.User +
      "] 中，共占用空间" + std::to_string(kb) + "K");
  if (count >= 1 && state_.Plan().CheckSummary) {
    // UIDs of a renumbered IMAP folder name other messages: none is taken.
    const std::string problem = session_.RefsProblem(TickedRefs());
    if (problem.empty())
      Walk(count, listing);
    else
      Say(key_ + " " + problem);
  }
  if (session_.IsConnected()) {
    session_.Disconnect();  // QUIT: the server now removes the marked messages
    quitSent_ = true;
    KeepCarriedOut();
  }
  Say("邮箱" + entry_.Server + "[" + entry_.User + "] 已被检测完毕！");
  WriteBack();
  return static_cast<int>(marks_.size());
}

void TAccountDeletion::Walk(long long count, const TPop3Listing& listing) {
  const auto fetcher = session_.MakeFetcher(listing, [](long long) { return false; });
  const bool keepCopies = state_.Plan().Quarantine;
  // Copies are written a group at a time and made durable together; a
  // group's messages are deleted only then. Left unflushed (a stop, a broken
  // connection), its copies go and its messages stay.
  TDeletionWindow window(state_.Home());
  const auto noCopy = [this](int n, const std::string& why) { NoCopy(n, why); };
  IndexRows();
  for (long long n = 1; n <= count; ++n) {
    if (terminated_) {
      // RSET withdraws every DELE of this connection once the answers still
      // on their way are read; if it fails, leaving without QUIT withdraws
      // them just as well.
      bool reset = false;
      try {
        if (fetcher)
          fetcher->Drain();
        reset = session_.ResetSession();
      } catch (const EConnectionError&) {
      } catch (const std::exception&) {
      }
      if (reset)
        session_.Disconnect();
      else
        Abandon();
      Withdraw();
      if (!session_.UndoesDeletions())
        Say(key_ + kImapStopped + std::to_string(marks_.size()) + " 封信件已删除 (" + kNoReset +
            ")");
      return;
    }
    message_.Clear();
    Say("正在检查第 " + std::to_string(n) + " 封邮件。");
    const int num = static_cast<int>(n);
    long long size = -1;
    try {
      if (fetcher) {
        size = listing.Sizes[static_cast<std::size_t>(n - 1)];
        fetcher->Next(message_);
      } else {
        size = session_.MessageSize(num);
        session_.FetchHeader(num, message_);
      }
    } catch (const EConnectionError&) {
      throw;  // a broken connection fails the account; nothing of it is deleted
    } catch (const std::exception&) {
      continue;  // this message is left alone
    }
    if (!MarkRow(num, size))
      continue;
    if (!keepCopies) {
      if (fetcher)
        fetcher->Delete(num);
      else
        session_.DeleteMessage(num);
      continue;
    }
    window.Add(num, message_.MessageId, size);
    if (window.Full())
      window.Flush(session_, fetcher.get(), noCopy);
  }
  window.Flush(session_, fetcher.get(), noCopy);
}

void TAccountDeletion::NoCopy(int n, const std::string& why) {
  // No copy, no deletion: the row shows the message as still there.
  for (auto m = marks_.rbegin(); m != marks_.rend(); ++m) {
    if (m->Number == n) {
      GiveBack(*m);
      marks_.erase(std::next(m).base());
      break;
    }
  }
  Say(CopyFailedLine(key_, n, why));
}

void TAccountDeletion::IndexRows() {
  // Rows are neither added nor removed during a deletion run: one pass per
  // account instead of one per message keeps the walk linear.
  rowsByKey_.clear();
  std::lock_guard lock(state_.MailListLock);
  state_.MailList.WithRows([&](std::vector<TMailRow>& rows) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (Trim(rows[i].Items[mcAccountKey]) == key_)
        rowsByKey_[Trim(rows[i].Items[mcMessageKey])].push_back(i);
    }
  });
}

std::vector<std::string> TAccountDeletion::TickedRefs() {
  std::vector<std::string> refs;
  std::lock_guard lock(state_.MailListLock);
  state_.MailList.WithRows([&](std::vector<TMailRow>& rows) {
    for (const TMailRow& row : rows) {
      if (row.Checked && !row.ServerRef.empty() && Trim(row.Items[mcAccountKey]) == key_)
        refs.push_back(row.ServerRef);
    }
  });
  return refs;
}

void TAccountDeletion::KeepCarriedOut() {
  std::vector<TMark> kept;
  std::size_t left = 0;
  for (const TMark& m : marks_) {
    if (session_.DeletionDone(m.Number) == false) {
      GiveBack(m);
      ++left;
    } else {
      kept.push_back(m);
    }
  }
  marks_ = std::move(kept);
  if (left > 0 && terminated_ && !session_.UndoesDeletions())
    Say(key_ + kImapStopped + std::to_string(marks_.size()) + " 封信件已删除，" +
        std::to_string(left) + " 封未删除 (" + kNoReset + ")");
}

bool TAccountDeletion::MarkRow(int n, long long size) {
  const std::string id = Trim(message_.MessageId);
  // An IMAP row names its message by folder, UIDVALIDITY and UID as well.
  const std::string ref = session_.MessageRef(n);
  // An empty key cannot identify a message.
  if (id.empty())
    return false;
  const auto candidates = rowsByKey_.find(id);
  if (candidates == rowsByKey_.end())
    return false;
  bool found = false;
  std::lock_guard lock(state_.MailListLock);
  state_.MailList.WithRows([&](std::vector<TMailRow>& rows) {
    for (const std::size_t i : candidates->second) {
      if (i >= rows.size())
        return;
      TMailRow& row = rows[i];
      // Each row pairs with one message: a row already marked stands for a
      // message already deleted. (Checked again: the list may have changed.)
      if (Trim(row.Items[mcAccountKey]) != key_ || Trim(row.Items[mcMessageKey]) != id ||
          Trim(row.Items[mcDeletionMark]) == "Deleted" || row.ServerRef != ref)
        continue;
      if (row.Checked) {
        marks_.push_back({i, n, row.Items[mcDeletionMark], row.Items[mcSize]});
        row.Items[mcDeletionMark] = "Deleted";
        row.Items[mcSize] = PadLeft(std::to_string(size), 8) + "!";
        found = true;
      }
      return;
    }
  });
  return found;
}

void TAccountDeletion::Withdraw() {
  // After QUIT the server has removed them; the marks are true.
  if (marks_.empty() || quitSent_)
    return;
  // What an IMAP server moved already stays moved, and marked.
  std::vector<TMark> kept;
  for (const TMark& m : marks_) {
    if (session_.DeletionDone(m.Number) == true)
      kept.push_back(m);
    else
      GiveBack(m);
  }
  marks_ = std::move(kept);
}

void TAccountDeletion::GiveBack(const TMark& mark) {
  std::lock_guard lock(state_.MailListLock);
  state_.MailList.WithRows([&](std::vector<TMailRow>& rows) {
    if (mark.Index < rows.size()) {
      rows[mark.Index].Items[mcDeletionMark] = mark.DeletionMark;
      rows[mark.Index].Items[mcSize] = mark.Size;
    }
  });
}

void TAccountDeletion::Abandon() {
  session_.Abandon();
}

void TAccountDeletion::WriteBack() {
  const fs::path& home = state_.Home();
  const std::string fileName = AccountFileName({entry_.Server, entry_.User, "", ""});
  // Opened only now: a failure before this point leaves them as they were.
  TRecordFileWriter newFile, spamFile, deletedFile;
  EnsureDeletedFolder(home);
  newFile.Open(NewRecordPath(home, fileName), TRecordFileWriter::Mode::Truncate);
  spamFile.Open(SpamRecordPath(home, fileName), TRecordFileWriter::Mode::Truncate);
  deletedFile.Open(DeletedRecordPath(home, fileName), TRecordFileWriter::Mode::Append);

  std::vector<bool> markedNow;
  for (const TMark& m : marks_) {
    if (m.Index >= markedNow.size())
      markedNow.resize(m.Index + 1, false);
    markedNow[m.Index] = true;
  }
  const std::vector<TMailRow> rows = state_.MailList.Rows();
  std::vector<std::string> deletedKeys;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TMailRow& row = rows[i];
    if (Trim(row.Items[mcAccountKey]) != key_)
      continue;
    const TMailRecord record = RecordFromRow(row);
    if (record.Size.find('!') != std::string::npos) {
      // Rows deleted earlier (by the check or a former run) are in the
      // deleted record file already.
      if (i < markedNow.size() && markedNow[i]) {
        deletedFile.Append(record);
        MoveMessageFilesToDeleted(home, KeyFileName(record.MessageKey));
        deletedKeys.push_back(record.MessageKey);
      }
    } else if (row.Checked) {
      spamFile.Append(record);
    } else {
      newFile.Append(record);
    }
  }
  for (TRecordFileWriter* file : {&newFile, &spamFile, &deletedFile}) {
    if (!file->Close()) {
      Say(RecordsLostLine(key_, file->Error()));
      break;
    }
  }
  // What the user ticked and deleted is what the judge learns as spam.
  if (state_.Plan().AutoJudge && !deletedKeys.empty())
    MarkMessages(home, deletedKeys, TLearnClass::Spam);
}

}  // namespace

void TDeletionTally::Add(const std::string& accountKey, int deleted) {
  std::lock_guard lock(mutex_);
  counts_[accountKey] += deleted;
}

std::map<std::string, int> TDeletionTally::Counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

void TDeletionTally::Clear() {
  std::lock_guard lock(mutex_);
  counts_.clear();
}

Tdeletemail::Tdeletemail(int slot, TRunState& state, TFrontEndSink& sink, TDeletionTally& tally)
    : slot_(slot), state_(state), sink_(sink), tally_(tally) {}

Tdeletemail::~Tdeletemail() {
  Join();
}

void Tdeletemail::Start() {
  thread_.Start([this] { Execute(); });
}

void Tdeletemail::Execute() {
  try {
    TMailMessage message;
    while (auto entry = state_.TakeEntry(state_.DeleteQueue)) {
      const TQueueEntry e = WithAccountSecret(state_, SplitQueueEntry(*entry));
      const std::unique_ptr<TMailboxSession> session = MakeMailboxSession(e, state_);
      // A long IMAP deletion stops between its commands.
      session->SetStopFlag(&thread_.TerminateRequest());
      if (e.Server.empty())
        break;
      TAccountDeletion account(state_, sink_, *session, message, e, thread_.TerminateRequest());
      account.Say("正在检查: " + e.Server + "[" + e.User + "]");
      try {
        // Without its password the account is not even connected.
        if (std::string problem = state_.Policy().SecretProblemOf(e.User + "[" + e.Server + "]");
            !problem.empty())
          throw std::runtime_error(problem);
        const int deleted = account.Run();
        tally_.Add(e.User + "[" + e.Server + "]", deleted);
      } catch (const std::exception& failure) {
        // Nothing of this session is deleted: leave without QUIT and give
        // the rows back what they showed.
        try {
          account.Abandon();
        } catch (const std::exception&) {
        }
        account.Withdraw();
        account.Say(e.Server + "[" + e.User + "]" + "不能删除信件!");
        account.Say(FailureCauseLine(e.User, e.Server, failure));
      }
    }
    state_.RefreshStatus(sink_);
  } catch (...) {
    // The worker ends; the counter and the drained flag are still set.
  }
  state_.QueueDrained = state_.QueueEmpty(state_.DeleteQueue);
  state_.RunningWorkers.fetch_sub(1);
  sink_.WorkerEnded();
}

TDeleteEngine::TDeleteEngine(TRunState& state, TSettingsStore& store, TFrontEndSink& sink)
    : state_(state), store_(store), sink_(sink) {
  state_.Store = &store_;
}

TDeleteEngine::~TDeleteEngine() {
  Stop();
  WaitForWorkers();
}

TStartResult TDeleteEngine::StartDeletion(std::string_view selection) {
  {
    std::lock_guard lock(state_.QueueLock);
    if (state_.Busy || state_.DeleteQueue)
      return TStartResult::Busy;
  }
  WaitForWorkers();
  workers_.clear();
  tally_.Clear();
  state_.Busy = true;
  state_.RunningWorkers = 3;
  std::vector<std::pair<std::string, std::string>> secretProblems;
  TAccountQueue queue =
      BuildCheckQueue(store_, selection.empty() ? kAllMailboxes : selection, &secretProblems);
  if (queue.empty()) {
    state_.Busy = false;
    state_.RunningWorkers = 0;
    return TStartResult::NoAccount;
  }
  {
    std::lock_guard lock(state_.QueueLock);
    state_.DeleteQueue = std::move(queue);
  }
  TConnectionPolicy policy = LoadConnectionPolicy(store_);
  policy.SecretProblems = std::move(secretProblems);
  state_.SetPolicy(std::move(policy));
  workers_.push_back(std::make_unique<Tdeletemail1>(state_, sink_, tally_));
  workers_.push_back(std::make_unique<Tdeletemail2>(state_, sink_, tally_));
  workers_.push_back(std::make_unique<Tdeletemail3>(state_, sink_, tally_));
  for (auto& w : workers_)
    w->Start();
  return TStartResult::Started;
}

void TDeleteEngine::Stop() {
  for (auto& w : workers_)
    w->Terminate();
}

void TDeleteEngine::WaitForWorkers() {
  for (auto& w : workers_)
    w->Join();
}

TDeletionFinished TDeleteEngine::DeletionFinished() {
  TDeletionFinished result;
  {
    std::lock_guard lock(state_.QueueLock);
    if (state_.RunningWorkers >= 1 || !state_.QueueDrained || !state_.DeleteQueue)
      return result;
    state_.DeleteQueue.reset();
  }
  result.Acted = true;
  WaitForWorkers();
  state_.Busy = false;
  result.DeletedPerAccount = tally_.Counts();
  result.AllRecordSaved = state_.MailList.SaveRecordFile(AllRecordPath(state_.Home()));
  return result;
}

}  // namespace pelorix
