#include "engine/check_worker.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <optional>
#include <unordered_set>

#include "classify/classifier.h"
#include "engine/account_secret.h"
#include "engine/failure_cause.h"
#include "engine/learning.h"
#include "engine/mail_record.h"
#include "engine/message_file.h"
#include "engine/ordered_jobs.h"
#include "engine/origin.h"
#include "engine/record_files.h"
#include "engine/run_state.h"
#include "engine/safe_delete.h"
#include "engine/sink.h"
#include "engine/verdict.h"
#include "mime/mail_message.h"
#include "net/errors.h"
#include "net/imap_session.h"
#include "net/pop3_fetch.h"
#include "net/pop3_session.h"
#include "store/accounts.h"

#include "text/asciiutil.h"

namespace pelorix {

namespace fs = std::filesystem;

namespace {

// Messages an account keeps waiting to be learnt once gone; a mailbox left
// full on its server costs no more than this.
constexpr std::size_t kMaxPendingPerAccount = 20000;

// The copies of a group of spam could not be made durable.
class ECopiesNotKept : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Trim(std::string_view s) {
  return std::string(ascii::Trim(s));
}

}  // namespace

TQueueEntry SplitQueueEntry(std::string_view entry) {
  TQueueEntry e;
  auto bar = entry.find('|');
  if (bar == std::string_view::npos) {
    // Without any "|" the server is empty, which ends the worker.
    return e;
  }
  e.Server = Trim(entry.substr(0, bar));
  entry.remove_prefix(bar + 1);
  bar = entry.find('|');
  if (bar == std::string_view::npos) {
    e.User = Trim(entry);
    return e;
  }
  e.User = Trim(entry.substr(0, bar));
  e.Password = Trim(entry.substr(bar + 1));
  return e;
}

void PrepareSession(TPop3Session& session, const TQueueEntry& entry, const TRunState& state) {
  session.Host = entry.Server;
  session.Port = 110;
  session.Username = entry.User;
  session.Password = entry.Password;
  if (int t = state.ReadTimeoutMs.load(); t > 0)
    session.ReadTimeout = t;
  const TConnectionPolicy policy = state.Policy();
  session.Security = ParseSecurity(policy.ModeOf(AccountKey({entry.Server, entry.User, "", ""})))
                         .value_or(TSecurity::Auto);
  // "SSL/TLS" without a port in the server text means the POP3S port.
  if (session.Security == TSecurity::Tls)
    session.Port = 995;
  session.PinnedCertificate = policy.PinOf(HostPortKey(entry.Server, session.Port));
  const std::string login = policy.LoginOf(AccountKey({entry.Server, entry.User, "", ""}));
  session.APOP = login == "apop";
  session.Sasl = ParseSaslMechanism(login);
}

std::unique_ptr<TMailboxSession> MakeMailboxSession(const TQueueEntry& entry,
                                                    const TRunState& state) {
  const TConnectionPolicy policy = state.Policy();
  const std::string key = AccountKey({entry.Server, entry.User, "", ""});
  const auto imap = policy.ImapOf(key);
  if (!imap) {
    auto pop3 = std::make_unique<TPop3Session>();
    PrepareSession(*pop3, entry, state);
    return pop3;
  }
  auto session = std::make_unique<TImapSession>();
  session->Host = entry.Server;
  session->Username = entry.User;
  session->Password = entry.Password;
  if (int t = state.ReadTimeoutMs.load(); t > 0)
    session->ReadTimeout = t;
  session->Security = ParseSecurity(policy.ModeOf(key)).value_or(TSecurity::Auto);
  if (session->Security == TSecurity::Tls)
    session->Port = 993;
  session->PinnedCertificate = policy.PinOf(HostPortKey(entry.Server, session->Port));
  session->Folders = imap->Folders;
  session->DeleteMode = ParseDeleteMode(imap->DeleteMode).value_or(TImapDeleteMode::Auto);
  session->Sasl = ParseSaslMechanism(policy.LoginOf(key));
  return session;
}

fs::path MessageFilePath(const fs::path& home, int slot) {
  return home / "tmp" / ("mailMsg" + std::to_string(slot) + ".tmp");
}

TCheckmail::TCheckmail(int slot, TRunState& state, TFrontEndSink& sink)
    : slot_(slot), state_(state), sink_(sink) {}

TCheckmail::~TCheckmail() {
  Join();
}

void TCheckmail::Start() {
  thread_.Start([this] { Execute(); });
}

void TCheckmail::Execute() {
  {
    std::lock_guard slotLock(state_.SlotLocks[static_cast<std::size_t>(slot_ - 1)]);
    try {
      CheckLoop(MessageFilePath(state_.Home(), slot_));
    } catch (...) {
      // The worker ends; the counter and the drained flag are still set.
    }
    state_.RunningWorkers.fetch_sub(1);
    state_.QueueDrained = state_.QueueEmpty(state_.CheckQueue);
  }
  sink_.WorkerEnded();
}

namespace {

// One account's check; any exception that leaves it abandons the account.
class TAccountCheck {
 public:
  TAccountCheck(TRunState& state, TFrontEndSink& sink, TMailboxSession& session, TMailMessage& msg,
                TMessageFile& report, const TFilterLists& lists, TIpLocationTable& ipTable,
                TOrderedJobs& jobs, bool whole, const std::atomic<bool>& terminated)
      : state_(state),
        sink_(sink),
        session_(session),
        msg_(msg),
        report_(report),
        lists_(lists),
        ipTable_(ipTable),
        jobs_(jobs),
        whole_(whole),
        terminated_(terminated),
        window_(state.Home()) {}

  void Say(std::string text) {
    lastMessage_ = text;
    state_.Say(sink_, std::move(text));
  }

  void Run(const TQueueEntry& e, TAccountRecordFiles& files);

  int spamCount = 0;
  int deletedCount = 0;

 private:
  // What the judge learns from this account once its check is through.
  void LearnFromAccount(const std::string& accountKey, bool complete);
  struct TSeen {
    std::string MessageKey;
    std::uint64_t Identity = 0;
    int Mode = 0;
    std::vector<std::uint64_t> Tokens;
    bool Deleted = false;  // ticked and deleted by the check: spam
    bool LeftAlone = false;
    bool Untokenised = false;  // seen, but nothing to learn from it
  };
  // What the check keeps for the judge, bounded whatever the mailbox's size:
  // the newest left-alone messages that can still be waiting after the cap,
  // the spam deleted (written out a group at a time), the keys present.
  void Remember(TSeen seen);
  void LearnDeleted();
  std::deque<TSeen> leftAlone_;
  std::vector<TSeen> deletedSeen_;
  std::vector<std::string> present_;
  std::optional<std::unordered_set<std::string>> waiting_;
  std::string learnAccount_;

  void FloodAlarm(const TQueueEntry& e, long long& count, long long& kb, TPop3Listing& listing);
  std::unique_ptr<TMessageFetcher> Fetcher(const TPop3Listing& listing);
  void Stop(TMessageFetcher* fetcher);
  void Remove(TMessageFetcher* fetcher, int n);
  // Deletes the messages of the window once their copies are on disk. A
  // copy that fails there fails the account: its rows already say deleted,
  // so the whole session is withdrawn instead.
  void FlushDeletions(TMessageFetcher* fetcher, const std::string& account);
  void CheckMessage(const TQueueEntry& e, long long n, long long& number,
                    TAccountRecordFiles& files, TMessageFetcher* fetcher,
                    const TPop3Listing& listing);

  TRunState& state_;
  TFrontEndSink& sink_;
  TMailboxSession& session_;
  TMailMessage& msg_;
  TMessageFile& report_;
  const TFilterLists& lists_;
  TIpLocationTable& ipTable_;
  TOrderedJobs& jobs_;
  bool whole_;
  const std::atomic<bool>& terminated_;
  std::string lastMessage_;
  // Spam deleted by the check waits here until its copies are durable.
  TDeletionWindow window_;
};

void TAccountCheck::Run(const TQueueEntry& e, TAccountRecordFiles& files) {
  learnAccount_ = e.User + "[" + e.Server + "]";
  if (session_.IsConnected())
    session_.Disconnect();
  try {
    // Without its password the account is not even connected.
    if (std::string problem = state_.Policy().SecretProblemOf(e.User + "[" + e.Server + "]");
        !problem.empty())
      throw std::runtime_error(problem);
    session_.Connect();
  } catch (const std::exception& failure) {
    Say(e.User + "@" + e.Server + "访问失败！");
    Say(FailureCauseLine(e.User, e.Server, failure));
  }
  if (!session_.IsConnected())
    return;

  long long count = session_.MessageCount();
  // One LIST gives the total and every message's size.
  TPop3Listing listing = count >= 1 ? session_.List(static_cast<int>(count)) : TPop3Listing{};
  long long kb = count >= 1 ? listing.Total / 1000 : 0;
  state_.MailboxSizeKb += kb;
  state_.NewMailCount += count;
  Say("检测到 " + std::to_string(count) + " 封信件在" + e.Server + "[" + e.User +
      "] 中，共占用空间" + std::to_string(kb) + "Kb");

  FloodAlarm(e, count, kb, listing);

  // A clean stopped half-way has closed the session already.
  if (count >= 1 && state_.Plan().CheckSummary && session_.IsConnected()) {
    report_.Line(std::string(50, '*'));
    report_.Line(lastMessage_);
    // Opened once per account: a table saved during the run counts from
    // the next account on.
    ipTable_.Refresh();
    const auto fetcher = Fetcher(listing);
    state_.MailList.Reserve(static_cast<std::size_t>(count));
    long long number = 1;
    bool complete = true;
    for (long long n = 1; n <= count; ++n) {
      msg_.Clear();
      if (terminated_) {
        Stop(fetcher.get());
        complete = false;
        break;
      }
      Say("正在检查第 " + std::to_string(n) + " 封邮件！");
      CheckMessage(e, n, number, files, fetcher.get(), listing);
    }
    if (complete)
      FlushDeletions(fetcher.get(), e.User + "[" + e.Server + "]");
    // The account's rows are all in before its counters.
    jobs_.Wait();
    LearnFromAccount(e.User + "[" + e.Server + "]", complete);
  } else if (count == 0 && session_.IsConnected()) {
    // An empty mailbox: everything left alone before was taken.
    LearnFromAccount(e.User + "[" + e.Server + "]", true);
  }

  if (session_.IsConnected())
    session_.Disconnect();
  const std::string key = e.User + "[" + e.Server + "]";
  Say("邮箱 " + key + "已被检查完毕。");
  Say(key + " 共有 " + std::to_string(count) + " 封新邮件等待您接收!");
  {
    std::lock_guard lock(state_.CountersLock);
    sink_.MailboxCountersUpdate({key, static_cast<int>(count), spamCount, deletedCount});
  }
}

std::unique_ptr<TMessageFetcher> TAccountCheck::Fetcher(const TPop3Listing& listing) {
  const TMailPlan plan = state_.Plan();
  const bool whole = whole_;
  return session_.MakeFetcher(listing, [&plan, whole](long long size) {
    return whole && !(plan.checkSkipBytes && static_cast<long long>(plan.SkipBytes) * 1000 < size);
  });
}

void TAccountCheck::Stop(TMessageFetcher* fetcher) {
  // RSET withdraws every DELE of this connection once the answers still on
  // their way are read; if that fails, leaving without QUIT withdraws them
  // just as well (a QUIT would carry them out).
  bool reset = false;
  try {
    if (fetcher)
      fetcher->Drain();
    reset = session_.ResetSession();
  } catch (const std::exception&) {
  }
  if (reset)
    session_.Disconnect();
  else
    session_.Abandon();
}

void TAccountCheck::Remove(TMessageFetcher* fetcher, int n) {
  if (fetcher)
    fetcher->Delete(n);
  else
    session_.DeleteMessage(n);
}

void TAccountCheck::FlushDeletions(TMessageFetcher* fetcher, const std::string& account) {
  std::vector<std::string> failed;
  window_.Flush(session_, fetcher, [&](int n, const std::string& why) {
    failed.push_back(CopyFailedLine(account, n, why));
  });
  if (failed.empty())
    return;
  for (std::string& line : failed)
    Say(std::move(line));
  Stop(fetcher);
  throw ECopiesNotKept(account + " 副本未能保存，本次检查未删除任何邮件");
}

void TAccountCheck::FloodAlarm(const TQueueEntry& e, long long& count, long long& kb,
                               TPop3Listing& listing) {
  const TMailPlan plan = state_.Plan();
  if (!(plan.ClearMoreRubNum > 0 && plan.ClearMoreRub && count > plan.ClearMoreRubNum))
    return;
  const std::string cr = "\r";
  const std::string question = "在邮箱" + e.User + "[" + e.Server + "]" + "中，" + cr +
                               "信件数量多达 " + std::to_string(count) + " 封" + cr +
                               "可能你的邮箱被垃圾邮件轰炸了" + cr +
                               "想从远程服务器中清空所有的邮件吗?" + cr +
                               "一旦清除,则所有邮件都会被删除掉!" + cr + "真的要彻底清空信箱吗?";
  if (!sink_.AskYesNo("Warning!", question))
    return;
  if (!sink_.AskYesNo("Sure?", "确实要清除所有信件吗？"))
    return;
  const std::string account = e.User + "[" + e.Server + "]";
  TDeletionWindow window(state_.Home());
  const auto noCopy = [&](int n, const std::string& why) { Say(CopyFailedLine(account, n, why)); };
  const auto flush = [&] {
    for (const int n : window.Flush(session_, nullptr, noCopy))
      Say(e.Server + "[" + e.User + "]" + "Number: " + std::to_string(n) + " deleted!");
  };
  for (long long n = 1; n <= count; ++n) {
    if (terminated_) {
      // Nothing of this session is deleted; the copies made durable stay.
      Stop(nullptr);
      return;
    }
    const int num = static_cast<int>(n);
    if (!plan.Quarantine) {
      try {
        session_.DeleteMessage(num);
        Say(e.Server + "[" + e.User + "]" + "Number: " + std::to_string(n) + " deleted!");
      } catch (const EConnectionError&) {
        throw;
      } catch (const std::exception&) {
      }
      continue;
    }
    Say("正在保存第 " + std::to_string(n) + "/" + std::to_string(count) + " 封邮件的副本");
    const auto at = static_cast<std::size_t>(n - 1);
    window.Add(num, {}, at < listing.Sizes.size() ? listing.Sizes[at] : -1);
    if (window.Full())
      flush();
  }
  flush();
  // Wait for the answer to QUIT: the server removes the messages only then,
  // and the count taken after reconnecting must see the empty mailbox.
  session_.DisconnectAndWait();
  // Some servers still hold the mailbox for a moment after the QUIT; try
  // the login again a few times.
  for (int attempt = 1;; ++attempt) {
    try {
      session_.Connect();
      break;
    } catch (const std::exception&) {
      if (attempt == 5)
        throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(100 * attempt));
    }
  }
  // The message pass works on what is left after the clean.
  const long long fresh = session_.MessageCount();
  listing = fresh >= 1 ? session_.List(static_cast<int>(fresh)) : TPop3Listing{};
  const long long freshKb = fresh >= 1 ? listing.Total / 1000 : 0;
  state_.NewMailCount += fresh - count;
  state_.MailboxSizeKb += freshKb - kb;
  count = fresh;
  kb = freshKb;
}

void TAccountCheck::CheckMessage(const TQueueEntry& e, long long n, long long& number,
                                 TAccountRecordFiles& files, TMessageFetcher* fetcher,
                                 const TPop3Listing& listing) {
  const TMailPlan plan = state_.Plan();
  const int num = static_cast<int>(n);
  long long size = -1;
  // A message that cannot be fetched is judged on what arrived; a broken
  // connection, though, ends the account instead of judging the rest empty.
  try {
    if (fetcher) {
      // The listing stands in for "LIST n"; the fetcher chose TOP or RETR.
      size = listing.Sizes[static_cast<std::size_t>(n - 1)];
      fetcher->Next(msg_);
    } else {
      size = session_.MessageSize(num);
      if (!whole_ ||
          (plan.checkSkipBytes && static_cast<long long>(plan.SkipBytes) * 1000 < size)) {
        session_.FetchHeader(num, msg_);
      } else {
        session_.FetchMessage(num, msg_);
      }
    }
  } catch (const EConnectionError&) {
    throw;
  } catch (const std::exception&) {
  }

  const fs::path& home = state_.Home();
  TJudgeInput in;
  in.Message = &msg_;
  in.Size = size;
  in.User = e.User;
  in.DateText = LocalDateTimeText(msg_.Date, true);
  in.WholeMessage = whole_;
  if (whole_)
    in.BodyLines = BodyLines(msg_);
  in.CheckNoMsg = plan.checkNoMsg;
  in.CheckDeliver = plan.checkDeliver;
  in.Lists = &lists_;
  in.Home = home;
  in.IpTable = &ipTable_;
  // The message's block of the report is written behind, with its files.
  TReportLines block;
  TVerdict v = Judge(in, block);

  // The learning judge speaks where the lists and switches left the
  // message alone; its score is shown for every message.
  TClassification judged;
  std::string clues;
  TSeen seen;
  const TClassifier* judge = state_.Judge.get();
  // Before the judge speaks, a message's tokens serve only what it learns
  // later: spam the check deletes, and the messages left alone among the
  // newest of the mailbox, which the cap keeps waiting. The older messages of
  // a big mailbox are not tokenised then.
  const auto total = static_cast<long long>(listing.Sizes.size());
  const bool learnable = (v.Spam && plan.DeleteRubbish) ||
                         (!v.Spam && n + static_cast<long long>(kMaxPendingPerAccount) > total);
  if (judge && plan.AutoJudge && !judge->Ready() && total > 0 && !learnable) {
    if (!msg_.MessageId.empty()) {
      seen.MessageKey = msg_.MessageId;
      seen.Untokenised = true;
    }
  } else if (judge && plan.AutoJudge) {
    std::vector<std::string> peek;
    const std::vector<std::string>* body = nullptr;
    seen.Mode = 0;
    if (whole_) {
      body = &in.BodyLines;
      seen.Mode = -1;
    } else if (plan.PeekLines > 0) {
      peek = BodyLinesForMode(BodyLines(msg_), plan.PeekLines);
      body = &peek;
      seen.Mode = plan.PeekLines;
    }
    const std::vector<std::string> tokens = MessageTokens(msg_, body, v.SenderRoute);
    judged = judge->Classify(tokens, msg_.From.Address);
    clues = CluesText(judged.Clues);
    if (judged.Score >= 0)
      block.Line("垃圾邮件评分: " + std::to_string(judged.Score) + "  (" + clues + ")");
    if (!v.Spam && judged.Judgement == TJudgement::Spam) {
      v.Spam = true;
      v.JudgedSpam = true;
      v.Reason = "自动判断评分" + std::string("\"") + std::to_string(judged.Score) + "\"";
    }
    if (!msg_.MessageId.empty()) {
      seen.MessageKey = msg_.MessageId;
      seen.Identity = MessageIdentity(msg_);
      seen.Tokens = TokenHashes(tokens);
    }
  }

  bool deleted = false;
  if (v.Spam) {
    ++spamCount;
    if (plan.DeleteRubbish) {
      const std::string why =
          plan.Quarantine ? window_.Keep(session_, fetcher, num, msg_.MessageId) : std::string();
      if (why.empty()) {
        if (!plan.Quarantine)
          Remove(fetcher, num);
        else if (window_.Full())
          FlushDeletions(fetcher, e.User + "[" + e.Server + "]");
        ++deletedCount;
        deleted = true;
      } else {
        Say(CopyFailedLine(e.User + "[" + e.Server + "]", num, why));
      }
    }
    block.Line(VerdictLine(v, deleted));
  }

  TMailRecord r;
  r.VerdictMark = v.Spam ? "Yes" : "";
  r.Sender = v.SenderText;
  r.SenderRoute = v.SenderRoute;
  r.Recipients = v.RecipientsText;
  r.AccountKey = e.User + "[" + e.Server + "]";
  r.Subject = v.SubjectText;
  r.Number = std::to_string(number) + (deleted ? "!" : "");
  if (!deleted)
    ++number;
  r.MessageKey = msg_.MessageId;
  r.DeletionMark = deleted ? "Deleted" : "";
  r.Size = std::to_string(size) + (deleted ? "!" : "");
  r.Date = in.DateText;
  // The list shows charset "[" type "]" and splits it at the first "[" when
  // saved; a "[" from the sender in the charset would shift the split.
  r.CharSet = msg_.CharSet;
  std::replace(r.CharSet.begin(), r.CharSet.end(), '[', '_');
  r.ContentType = msg_.ContentType;
  r.Priority = PriorityDigit(msg_);
  r.Organization = msg_.Organization;
  if (!seen.MessageKey.empty()) {
    seen.Deleted = deleted;
    seen.LeftAlone = !v.Spam;
    Remember(std::move(seen));
  }

  // The files, the report block and the row are made and written behind,
  // in message order, so that the fetch goes on meanwhile; the row shows
  // only once its files are there.
  std::string key = KeyFileName(msg_.MessageId);
  std::string header = HeaderFileText(msg_);
  const bool bodyFile = whole_ && !key.empty();
  std::vector<std::string> bodyLines =
      bodyFile ? std::move(in.BodyLines) : std::vector<std::string>{};
  std::size_t weight = header.size() + kMailRecordSize;
  for (const auto& l : bodyLines)
    weight += l.size() + 2;
  const int score = judged.Score;
  const bool unsure = judged.Judgement == TJudgement::Unsure;
  jobs_.Post(
      [this, &files, r = std::move(r), score, unsure, clues = std::move(clues),
       ref = session_.MessageRef(num), lines = std::move(block.Lines), key = std::move(key),
       header = std::move(header), bodyLines = std::move(bodyLines), bodyFile, deleted,
       spam = v.Spam]() mutable {
        for (const std::string& line : lines)
          report_.Line(line);
        // Encoded once: the file gets these bytes and the row shows what they hold.
        const TMailRecordBytes bytes = EncodeMailRecord(r);
        TMailRow row =
            RowFromRecord(DecodeMailRecord(std::string_view(bytes.data(), bytes.size())));
        row.Score = score;
        row.Unsure = unsure;
        row.Clues = std::move(clues);
        row.ServerRef = std::move(ref);
        if (deleted) {
          files.AppendDeleted(bytes);
        } else if (spam) {
          files.AppendSpam(bytes);
        } else {
          files.AppendNew(bytes);
        }
        const fs::path& home = state_.Home();
        const fs::path tmp = TmpFolder(home);
        state_.OldFiles.Write(home, HeaderFilePath(tmp, key), header);
        if (bodyFile)
          state_.OldFiles.Write(home, BodyFilePath(tmp, key), BodyFileText(bodyLines));
        if (deleted)
          MoveMessageFilesToDeleted(home, key);

        std::lock_guard lock(state_.CheckRowLock);
        const std::size_t index = state_.MailList.Append(row);
        sink_.MailRowAdded(index, row);
      },
      weight);
}

// Deleted spam learnt a group at a time: a mailbox of spam costs no more.
constexpr std::size_t kLearnGroup = 2000;

void TAccountCheck::Remember(TSeen seen) {
  if (!state_.Judge)
    return;
  present_.push_back(seen.MessageKey);
  if (seen.Untokenised)
    return;
  if (seen.Deleted) {
    deletedSeen_.push_back(std::move(seen));
    if (deletedSeen_.size() >= kLearnGroup)
      LearnDeleted();
    return;
  }
  if (!seen.LeftAlone)
    return;
  if (!waiting_) {
    // A message waiting from an earlier check is not written again.
    auto store = TTokenStore::Open(TTokenStore::PathIn(state_.Home()));
    waiting_ = store ? store->PendingKeys(learnAccount_) : std::unordered_set<std::string>{};
  }
  if (waiting_->count(seen.MessageKey))
    return;
  // Only the newest of them outlive the cap on waiting messages.
  leftAlone_.push_back(std::move(seen));
  if (leftAlone_.size() > kMaxPendingPerAccount)
    leftAlone_.pop_front();
}

void TAccountCheck::LearnDeleted() {
  std::vector<TSeen> deleted = std::move(deletedSeen_);
  deletedSeen_.clear();
  if (deleted.empty())
    return;
  auto store = TTokenStore::Open(TTokenStore::PathIn(state_.Home()));
  if (!store)
    return;
  store->Begin();
  for (const auto& s : deleted) {
    store->Learn(s.Identity, TLearnClass::Spam, s.Mode, s.Tokens);
    store->DropPending(learnAccount_, s.MessageKey);
  }
  if (!store->Commit())
    Say(learnAccount_ + " 学习记录保存失败: " + store->LastError());
}

void TAccountCheck::LearnFromAccount(const std::string& accountKey, bool complete) {
  if (!state_.Judge)
    return;
  LearnDeleted();
  const std::deque<TSeen> leftAlone = std::move(leftAlone_);
  leftAlone_.clear();
  const std::vector<std::string> present = std::move(present_);
  present_.clear();
  waiting_.reset();
  auto store = TTokenStore::Open(TTokenStore::PathIn(state_.Home()));
  if (!store)
    return;
  store->Begin();
  // Only a check that saw the whole mailbox can tell what is gone from it.
  if (complete)
    store->LearnGone(accountKey, present);
  for (const auto& s : leftAlone)
    store->AddPending({accountKey, s.MessageKey, s.Identity, s.Mode, s.Tokens});
  store->CapPending(accountKey, kMaxPendingPerAccount);
  if (!store->Commit())
    Say(accountKey + " 学习记录保存失败: " + store->LastError());
  store->Expire(kMaxStoredTokens);
}

}  // namespace

void TCheckmail::CheckLoop(const fs::path& messageFile) {
  const bool whole = state_.WholeMessage.load() != 0;
  const TFilterLists lists = ReadListFiles(state_.Home());

  TMessageFile report;
  if (!report.Create(messageFile))
    return;

  TMailMessage message;
  TIpLocationTable ipTable(state_.Home());
  TOrderedJobs jobs;
  if (slot_ == 1 && state_.Judge && !state_.Judge->Ready())
    state_.Say(sink_, JudgeStatusText(state_.Judge->SpamMessages(), state_.Judge->GoodMessages()));

  while (auto entry = state_.TakeEntry(state_.CheckQueue)) {
    const TQueueEntry e = WithAccountSecret(state_, SplitQueueEntry(*entry));
    const std::unique_ptr<TMailboxSession> session = MakeMailboxSession(e, state_);
    session->SetPeekLines(whole ? 0 : std::max(0, state_.Plan().PeekLines));

    TAccountRecordFiles files;
    files.Open(state_.Home(), AccountFileName({e.Server, e.User, "", ""}));
    if (e.Server.empty()) {
      files.Close();
      break;
    }
    TAccountCheck check(state_, sink_, *session, message, report, lists, ipTable, jobs, whole,
                        thread_.TerminateRequest());
    check.Say("正在检测邮箱 " + e.Server + "[" + e.User + "]");
    try {
      check.Run(e, files);
    } catch (...) {
      std::string cause;
      try {
        throw;
      } catch (const EImapReplyError& failure) {
        cause = FailureCauseLine(e.User, e.Server, failure);
      } catch (const EImapDeletionRefused& failure) {
        cause = FailureCauseLine(e.User, e.Server, failure);
      } catch (const ECopiesNotKept& failure) {
        cause = failure.what();
      } catch (...) {
      }
      try {
        if (session->IsConnected())
          session->Disconnect();
      } catch (...) {
      }
      check.Say(e.User + "[" + e.Server + "]" + "检查新邮件信息失败!");
      // An IMAP server says why in its response code (a folder that does
      // not exist, a full mailbox).
      if (!cause.empty())
        check.Say(cause);
    }
    // An abandoned account's rows read so far still go in.
    try {
      jobs.Wait();
    } catch (...) {
    }
    if (int error = 0; !files.Close(&error))
      check.Say(RecordsLostLine(e.User + "[" + e.Server + "]", error));
  }
  state_.RefreshStatus(sink_);
}

}  // namespace pelorix
