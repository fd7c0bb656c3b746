#pragma once
// The check run as the front ends drive it: start (refused while busy),
// stop, and the check-finished handler with the brief report. The same code
// serves the command line and the main window.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/check_worker.h"
#include "engine/run_state.h"

namespace pelorix {

class TSettingsStore;

inline constexpr std::string_view kAllMailboxes = "所有信箱";

// The removal of former tmp/ folders in the background. Start it once the
// check has written its files: on ext4, files created just after many were
// deleted in the same block group cost ten times more (the allocator steps
// over recently freed inodes). Destroying the sweep starts it if need be and
// waits for it.
class TTmpSweep {
 public:
  TTmpSweep() = default;
  explicit TTmpSweep(std::vector<std::filesystem::path> folders);
  TTmpSweep(TTmpSweep&&) = default;
  TTmpSweep& operator=(TTmpSweep&&) = delete;
  ~TTmpSweep();
  void Start();
  void Wait();

 private:
  std::vector<std::filesystem::path> folders_;
  std::jthread thread_;
};

// Start-up: tmp/ without the plain files of the former run (its folders,
// tmp/deleted/ among them, stay), then tmp/deleted/. The former tmp/ is
// renamed aside, a new one made and the folders moved back: files created
// in a fresh folder cost a fraction of those in one just emptied. The old
// files are deleted by the returned sweep; a start after a crash half-way
// finishes what a set-aside folder still holds.
[[nodiscard]] TTmpSweep PrepareTmpFolder(const std::filesystem::path& home);

// The check queue for a selection: "所有信箱" or one account key. Accounts
// whose password the keyring could not give are queued all the same, their
// cause added to `secretProblems` (account key, why) for the workers' lines.
TAccountQueue BuildCheckQueue(
    TSettingsStore& store, std::string_view selection,
    std::vector<std::pair<std::string, std::string>>* secretProblems = nullptr);

// The brief report: heading, check time, the lines of the three message
// files (a file that cannot be read is skipped), the closing lines.
// The brief's lines one at a time, from the report files.
void WriteBriefReport(const std::filesystem::path& home, const std::string& timeText,
                      const std::function<void(std::string)>& line);
std::vector<std::string> BuildBriefReport(const std::filesystem::path& home,
                                          const std::string& timeText);

enum class TStartResult {
  Started,
  Busy,       // "正在检测邮件！" / "注意！"
  NoAccount,  // "你必须指定至少一个邮件帐号才能检查!" / "帐号设置错误！"
};

// What the front end shows once the last worker has ended.
struct TCheckFinished {
  bool Acted = false;  // false: not the last worker, nothing was done
  long long NewMailCount = 0;
  // "新到邮件：" + count, for status panel 5, when CheckSummary is on and
  // mail was found (the worker message otherwise).
  std::string WorkerMessage;
  std::optional<std::vector<std::string>> Brief;  // set when a brief was built
  std::string BriefTime;                          // when a brief is due: its time (built or not)
  bool AllRecordSaved = false;
};

class TCheckEngine {
 public:
  TCheckEngine(std::filesystem::path home, TSettingsStore& store, TFrontEndSink& sink);
  ~TCheckEngine();
  TCheckEngine(const TCheckEngine&) = delete;
  TCheckEngine& operator=(const TCheckEngine&) = delete;

  TRunState& State() { return state_; }
  TMailList& MailList() { return state_.MailList; }

  // Loads the check settings from the store (start-up, and after the
  // settings window closes).
  void LoadPlan();
  // Removes the kept copies of deleted mail older than QuarantineDays
  // (start-up); returns how many went.
  int ExpireKeptCopies();

  // "查摘要" / "查内容": writes chkContent and starts a run.
  TStartResult StartHeaderCheck(std::string_view selection = kAllMailboxes);
  TStartResult StartContentCheck(std::string_view selection = kAllMailboxes);
  TStartResult StartCheck(std::string_view selection, bool wholeMessage);

  // "停止": every running worker stops at its next message.
  void Stop();

  // Waits until every worker of the run has ended (command line, tests).
  void WaitForWorkers();

  // The check-finished handler: call it on the front end's thread after
  // each WorkerEnded; it acts only for the last worker of the run.
  // Without buildBrief the brief is left to WriteBriefReport (BriefTime).
  TCheckFinished CheckFinished(bool buildBrief = true);

 private:
  TRunState state_;
  TSettingsStore& store_;
  TFrontEndSink& sink_;
  std::vector<std::unique_ptr<TCheckmail>> workers_;
};

}  // namespace pelorix
