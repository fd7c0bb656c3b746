#include "engine/check_run.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <future>
#include <system_error>

#include "engine/message_file.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "store/accounts.h"
#include "store/filter_lists.h"
#include "store/oauth_account.h"
#include "store/settings_store.h"

namespace pelorix {

namespace fs = std::filesystem;

namespace {

// Moves a kept folder back into the new tmp/: whole when the name is free
// there, else entry by entry; what exists on both sides keeps the newer copy.
void MoveBack(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(to, ec))) {
    fs::rename(from, to, ec);
    return;
  }
  if (!fs::is_directory(fs::symlink_status(from, ec)) ||
      !fs::is_directory(fs::symlink_status(to, ec)))
    return;
  for (const auto& entry : fs::directory_iterator(from, ec))
    MoveBack(entry.path(), to / entry.path().filename());
}

// A folder and not a link to one, from the type the listing gave: no stat
// for each of the ten thousand files beside it.
bool IsFolderEntry(const fs::directory_entry& entry) {
  std::error_code ec;
  return !entry.is_symlink(ec) && entry.is_directory(ec);
}

void MoveFoldersBack(const fs::path& former, const fs::path& tmp) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(former, ec)) {
    if (IsFolderEntry(entry))
      MoveBack(entry.path(), tmp / entry.path().filename());
  }
}

// The plain files of tmp/ removed where they are (tmp/ cannot be renamed).
void ClearInPlace(const fs::path& tmp) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(tmp, ec)) {
    std::error_code e2;
    if (!IsFolderEntry(entry))
      fs::remove(entry.path(), e2);
  }
}

}  // namespace

TTmpSweep::TTmpSweep(std::vector<fs::path> folders) : folders_(std::move(folders)) {}

TTmpSweep::~TTmpSweep() {
  Wait();
}

void TTmpSweep::Start() {
  if (folders_.empty() || thread_.joinable())
    return;
  thread_ = std::jthread([folders = std::move(folders_)] {
    for (const auto& folder : folders) {
      std::error_code ec;
      fs::remove_all(folder, ec);
    }
  });
  folders_.clear();
}

void TTmpSweep::Wait() {
  Start();
  if (thread_.joinable())
    thread_.join();
}

TTmpSweep PrepareTmpFolder(const fs::path& home) {
  const fs::path tmp = TmpFolder(home);
  std::error_code ec;
  // Folders a former start set aside and did not finish with, newest first
  // after the one set aside now.
  std::vector<fs::path> former;
  for (const auto& entry : fs::directory_iterator(home, ec)) {
    std::error_code e2;
    const std::string name = entry.path().filename().string();
    if (name.starts_with(kFormerTmpPrefix) && fs::is_directory(entry.symlink_status(e2)))
      former.push_back(entry.path());
  }
  std::sort(former.rbegin(), former.rend());
  if (fs::is_directory(fs::symlink_status(tmp, ec))) {
    const auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
    const fs::path aside = home / (std::string(kFormerTmpPrefix) + std::to_string(stamp) + "-" +
                                   std::to_string(::getpid()));
    fs::rename(tmp, aside, ec);
    if (ec)
      ClearInPlace(tmp);
    else
      former.insert(former.begin(), aside);
  }
  fs::create_directories(tmp, ec);
  for (const auto& folder : former)
    MoveFoldersBack(folder, tmp);
  fs::create_directory(DeletedFolder(home), ec);
  return TTmpSweep(std::move(former));
}

void WriteBriefReport(const fs::path& home, const std::string& timeText,
                      const std::function<void(std::string)>& line) {
  line("邮件检测报告");
  line("检测时间: " + timeText);
  for (int slot = 1; slot <= 3; ++slot)
    ForEachAnsiLine(MessageFilePath(home, slot), line);
  line(std::string(50, '='));
  line("tolvane reported");
}

std::vector<std::string> BuildBriefReport(const fs::path& home, const std::string& timeText) {
  std::vector<std::string> lines;
  WriteBriefReport(home, timeText, [&](std::string l) { lines.push_back(std::move(l)); });
  return lines;
}

TAccountQueue BuildCheckQueue(TSettingsStore& store, std::string_view selection,
                              std::vector<std::pair<std::string, std::string>>* secretProblems) {
  TAccountQueue queue;
  std::vector<TAccount> accounts = LoadAccounts(store);
  std::erase_if(accounts, [&](const TAccount& a) {
    return selection != kAllMailboxes && selection != AccountKey(a);
  });
  for (TAccount& a : accounts) {
    // An OAuth account's worker fetches its token itself (WithAccountSecret).
    if (!ReadAccountOAuthProvider(store, AccountKey(a)).empty())
      a.Password.clear();
    queue.push_back(AccountQueueEntry(a));
    if (secretProblems && !a.SecretProblem.empty())
      secretProblems->emplace_back(AccountKey(a), a.SecretProblem);
  }
  return queue;
}

TCheckEngine::TCheckEngine(fs::path home, TSettingsStore& store, TFrontEndSink& sink)
    : state_(std::move(home)), store_(store), sink_(sink) {
  state_.Store = &store_;
}

TCheckEngine::~TCheckEngine() {
  Stop();
  WaitForWorkers();
}

void TCheckEngine::LoadPlan() {
  TMailPlan plan = state_.Plan();
  plan.Load(store_);
  state_.SetPlan(plan);
}

int TCheckEngine::ExpireKeptCopies() {
  return ExpireQuarantine(state_.Home(), state_.Plan().QuarantineDays, std::time(nullptr));
}

TStartResult TCheckEngine::StartHeaderCheck(std::string_view selection) {
  TSettingsKey root;
  if (OpenSettingsKey(store_, "", true, root))
    WriteFlagValue(root, "chkContent", true);
  return StartCheck(selection, false);
}

TStartResult TCheckEngine::StartContentCheck(std::string_view selection) {
  TSettingsKey root;
  if (OpenSettingsKey(store_, "", true, root))
    WriteFlagValue(root, "chkContent", false);
  return StartCheck(selection, true);
}

TStartResult TCheckEngine::StartCheck(std::string_view selection, bool wholeMessage) {
  {
    std::lock_guard lock(state_.QueueLock);
    if (state_.Busy || state_.CheckQueue)
      return TStartResult::Busy;
  }
  // Workers of an earlier run have all ended by now; release their threads.
  WaitForWorkers();
  workers_.clear();

  state_.WholeMessage = wholeMessage ? 1 : 0;
  state_.MailList.Clear();
  state_.EventLog.Clear();
  state_.Busy = true;

  std::vector<std::pair<std::string, std::string>> secretProblems;
  TAccountQueue queue =
      BuildCheckQueue(store_, selection.empty() ? kAllMailboxes : selection, &secretProblems);
  state_.AccountCount = static_cast<int>(queue.size());
  if (queue.empty()) {
    state_.QueueDrained = true;
    state_.RunningWorkers = 0;
    state_.Busy = false;
    return TStartResult::NoAccount;
  }
  {
    std::lock_guard lock(state_.QueueLock);
    state_.CheckQueue = std::move(queue);
  }
  state_.NewMailCount = 0;
  state_.MailboxSizeKb = 0;
  state_.QueueDrained = false;
  state_.RunningWorkers = 3;

  WriteListFiles(state_.Home(), store_);
  TConnectionPolicy policy = LoadConnectionPolicy(store_);
  policy.SecretProblems = std::move(secretProblems);
  state_.SetPolicy(std::move(policy));
  {
    const TMailPlan plan = state_.Plan();
    state_.Judge =
        plan.AutoJudge ? TClassifier::Load(state_.Home(), {plan.SpamCut, plan.UnsureCut}) : nullptr;
  }

  workers_.push_back(std::make_unique<TCheckmail1>(state_, sink_));
  workers_.push_back(std::make_unique<TCheckmail2>(state_, sink_));
  workers_.push_back(std::make_unique<TCheckmail3>(state_, sink_));
  for (auto& w : workers_)
    w->Start();
  return TStartResult::Started;
}

void TCheckEngine::Stop() {
  for (auto& w : workers_)
    w->Terminate();
}

void TCheckEngine::WaitForWorkers() {
  for (auto& w : workers_)
    w->Join();
}

TCheckFinished TCheckEngine::CheckFinished(bool buildBrief) {
  TCheckFinished result;
  if (state_.RunningWorkers > 0 || !state_.QueueDrained)
    return result;
  if (!state_.Busy)
    return result;  // the run was finished already
  {
    // A deletion run shares the busy flag and the counters; its end is not ours.
    std::lock_guard lock(state_.QueueLock);
    if (!state_.CheckQueue)
      return result;
  }
  result.Acted = true;
  WaitForWorkers();

  // The list is saved while the brief is put together: the two take about
  // as long on a big mailbox, and nothing changes the list meanwhile.
  auto saved = std::async(std::launch::async, [this] {
    return state_.MailList.SaveRecordFile(AllRecordPath(state_.Home()));
  });
  const TMailPlan plan = state_.Plan();
  result.NewMailCount = state_.NewMailCount;
  if (result.NewMailCount > 0 && plan.CheckSummary) {
    state_.SetWorkerMessage("新到邮件：" + std::to_string(result.NewMailCount));
    result.BriefTime = LocalDateTimeText(std::time(nullptr));
    if (buildBrief)
      result.Brief = BuildBriefReport(state_.Home(), result.BriefTime);
  }
  {
    std::lock_guard lock(state_.QueueLock);
    state_.CheckQueue.reset();
  }
  state_.Busy = false;
  result.WorkerMessage = state_.WorkerMessage();
  result.AllRecordSaved = saved.get();
  // The run's threads leave what they freed in their own malloc arenas; a
  // window that checks every few minutes would keep megabytes of it.
  malloc_trim(0);
  return result;
}

}  // namespace pelorix
