// Check and deletion commands: the engine driven without a window.
#include <filesystem>
#include <mutex>
#include <optional>
#include <ostream>

#include "app/args.h"
#include "app/commands.h"
#include "engine/check_run.h"
#include "engine/delete_worker.h"
#include "engine/record_files.h"
#include "engine/run_lock.h"
#include "store/accounts.h"
#include "store/settings_store.h"

namespace pelorix {
namespace {

// Prints the event log to stderr as lines arrive and answers the flood
// alarm from --yes. Calls come from three workers; one at a time.
class TConsoleSink : public TFrontEndSink {
 public:
  TConsoleSink(std::ostream& log, bool yes) : log_(log), yes_(yes) {}

  void StatusRefresh(const TStatusTexts& texts) override {
    if (texts.NewLogLine.empty())
      return;
    std::lock_guard lock(mutex_);
    // One write per line: a big mailbox logs a line per message.
    log_ << texts.NewLogLine + "\n" << std::flush;
  }
  void MailRowAdded(std::size_t, const TMailRow&) override {}
  void MailboxCountersUpdate(const TMailboxCounters&) override {}
  bool AskYesNo(const std::string& caption, const std::string& text) override {
    std::lock_guard lock(mutex_);
    std::string shown = text;
    for (char& c : shown) {
      if (c == '\r')
        c = '\n';
    }
    log_ << caption << "\n" << shown << "\n" << (yes_ ? "Yes (--yes)" : "No") << std::endl;
    return yes_;
  }

 private:
  std::mutex mutex_;
  std::ostream& log_;
  bool yes_;
};

constexpr const char* kRunRefused =
    "正在检测邮件！ another check or deletion is running on this home folder\n";

}  // namespace

int RunCheckCommand(CommandContext& ctx) {
  bool content = false;
  bool yes = false;
  std::optional<std::string> account;
  ArgParser(ctx.args)
      .Switch("--content", &content)
      .Switch("--yes", &yes)
      .Option("--account", &account)
      .Parse();

  std::string error;
  auto store = TSettingsStore::Open(ctx.home, &error);
  if (!store) {
    ctx.err << "pelorix check: " << error << "\n";
    return 1;
  }
  MoveSecretsToKeyring(*store);
  // Before tmp/ is cleaned: a window's run may be writing there.
  TFileLock runLock;
  if (!runLock.TryLock(RunLockPath(ctx.home))) {
    ctx.err << kRunRefused;
    return 1;
  }
  // The former run's files are deleted once the check is done (on leaving).
  TTmpSweep sweep = PrepareTmpFolder(ctx.home);

  TConsoleSink sink(ctx.err, yes);
  TCheckEngine engine(ctx.home, *store, sink);
  engine.LoadPlan();
  engine.ExpireKeptCopies();
  const std::string selection = account ? *account : std::string(kAllMailboxes);
  const TStartResult started =
      content ? engine.StartContentCheck(selection) : engine.StartHeaderCheck(selection);
  if (started == TStartResult::NoAccount) {
    ctx.err << "你必须指定至少一个邮件帐号才能检查!\n";
    return 1;
  }
  if (started == TStartResult::Busy) {
    ctx.err << "正在检测邮件！\n";
    return 1;
  }
  engine.WaitForWorkers();
  // Printed as it is read: a big mailbox's brief is never held whole.
  const TCheckFinished finished = engine.CheckFinished(false);
  if (!finished.BriefTime.empty())
    WriteBriefReport(engine.State().Home(), finished.BriefTime,
                     [&](const std::string& line) { ctx.out << line << "\n"; });
  if (!engine.State().Plan().CheckSummary) {
    ctx.err << "pelorix check: messages were only counted; to judge and list them switch on "
               "CheckSummary: pelorix set MailCheck CheckSummary on\n";
  }
  return 0;
}

int RunDeleteCommand(CommandContext& ctx) {
  std::optional<std::string> account;
  ArgParser(ctx.args).Option("--account", &account).Parse();

  std::string error;
  auto store = TSettingsStore::Open(ctx.home, &error);
  if (!store) {
    ctx.err << "pelorix delete: " << error << "\n";
    return 1;
  }
  MoveSecretsToKeyring(*store);
  TFileLock runLock;
  if (!runLock.TryLock(RunLockPath(ctx.home))) {
    ctx.err << kRunRefused;
    return 1;
  }
  // No tmp cleaning here: the list and the message files of the last check
  // are what this run works on.
  TConsoleSink sink(ctx.err, false);
  TCheckEngine engine(ctx.home, *store, sink);
  engine.LoadPlan();
  engine.ExpireKeptCopies();
  const auto allRecord = AllRecordPath(ctx.home);
  if (!engine.MailList().LoadRecordFile(allRecord, true)) {
    ctx.err << "pelorix delete: no mail list to work on (" << allRecord.string()
            << " is missing); run pelorix check first\n";
    return 1;
  }
  std::error_code ec;
  std::filesystem::create_directories(DeletedFolder(ctx.home), ec);

  TDeleteEngine deleter(engine.State(), *store, sink);
  const std::string selection = account ? *account : std::string(kAllMailboxes);
  const TStartResult started = deleter.StartDeletion(selection);
  if (started == TStartResult::NoAccount) {
    ctx.err << "你必须指定至少一个邮件帐号才能检查!\n";
    return 1;
  }
  if (started == TStartResult::Busy) {
    ctx.err << "pelorix delete: a run is under way\n";
    return 1;
  }
  deleter.WaitForWorkers();
  const TDeletionFinished finished = deleter.DeletionFinished();
  if (!finished.AllRecordSaved)
    ctx.err << "pelorix delete: could not save " << allRecord.string() << "\n";

  int total = 0;
  std::string perAccount;
  for (const auto& [key, count] : finished.DeletedPerAccount) {
    total += count;
    perAccount += (perAccount.empty() ? "" : ", ") + key + " " + std::to_string(count);
  }
  ctx.out << "deleted " << total << (total == 1 ? " message" : " messages");
  if (!perAccount.empty())
    ctx.out << ": " << perAccount;
  ctx.out << "\n";
  if (!engine.State().Plan().CheckSummary) {
    ctx.err << "pelorix delete: nothing was deleted because CheckSummary is off; switch it "
               "on with: pelorix set MailCheck CheckSummary on\n";
  }
  return finished.AllRecordSaved ? 0 : 1;
}

}  // namespace pelorix
