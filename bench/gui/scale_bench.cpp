// A neglected mailbox: 100,000 messages (about 240 MB) on the test Dovecot.
//   - `pelorix check` on a fresh home and again on the same home: wall time
//     and the process's peak memory (max RSS), as a user runs it;
//   - saving the list of every row (tmp/all.rec), as after the last row;
//   - the window: the list loaded, sorted by date, scrolled page by page
//     (the longest page is the pause a user would see);
//   - a deletion run of 10,000 ticked messages, copies kept.
//
//   pelorix_scale_bench [--messages=N] [--ticks=N]
//
// Needs root, Dovecot (Debian dovecot-pop3d); skips itself otherwise.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <QApplication>
#include <QScrollBar>
#include <QTableView>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/bench_mailbox.h"
#include "common/bench_server.h"
#include "engine/check_run.h"
#include "engine/delete_worker.h"
#include "engine/record_files.h"
#include "gui/mail_list_model.h"
#include "gui/main_window.h"
#include "mime/mail_message.h"
#include "net/pop3_session.h"
#include "store/settings_store.h"
#include "support/dovecot.h"

extern char** environ;

namespace pelorix {
namespace {

namespace fs = std::filesystem;

// VmHWM of a running process, in kB; -1 once it is gone.
long HighWaterKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0)
      return std::atol(line.c_str() + 6);
  }
  return -1;
}

struct TRun {
  double Seconds = -1;
  double PeakMb = -1;
};

// `pelorix --home HOME check` as its own process, as users run it.
TRun CommandLineCheck(const fs::path& home) {
  const std::string homeText = home.string();
  std::vector<std::string> argv = {PELORIX_BINARY, "--home", homeText, "check"};
  std::vector<char*> args;
  for (auto& a : argv)
    args.push_back(a.data());
  args.push_back(nullptr);
  TRun run;
  pid_t pid = -1;
  int status = -1;
  long peakKb = -1;
  run.Seconds = Seconds([&] {
    // Its progress lines go nowhere: a terminal's speed is not measured.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    const int spawned = ::posix_spawn(&pid, PELORIX_BINARY, &quiet, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0)
      return;
    // The child's own high-water mark, read while it runs: its rusage would
    // report this process's, which the spawn shared until the exec.
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      peakKb = std::max(peakKb, HighWaterKb(pid));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "pelorix check failed (status %d)\n", status);
    run.Seconds = -1;
  }
  run.PeakMb = static_cast<double>(peakKb) / 1024.0;
  return run;
}

// A header check in this process (untimed), then `ticks` rows spread over
// the list ticked and the deletion run timed.
double DeleteTicked(const fs::path& home, TSettingsStore& store, int ticks, long& gone,
                    test::TDovecotServer& dovecot) {
  TQuietSink sink;
  TTmpSweep sweep = PrepareTmpFolder(home);
  sweep.Wait();
  TCheckEngine engine(home, store, sink);
  engine.LoadPlan();
  engine.StartHeaderCheck();
  engine.WaitForWorkers();
  engine.CheckFinished();
  const std::size_t rows = engine.MailList().Count();
  const std::size_t step = std::max<std::size_t>(1, rows / static_cast<std::size_t>(ticks));
  for (std::size_t i = 0; i < rows; ++i)
    engine.MailList().SetChecked(i, i % step == 0 && i / step < static_cast<std::size_t>(ticks));
  TMailPlan plan = engine.State().Plan();
  plan.Quarantine = true;
  engine.State().SetPlan(plan);
  TDeleteEngine deleter(engine.State(), store, sink);
  const long before = static_cast<long>(dovecot.MessageCount("bob"));
  const double s = Seconds([&] {
    if (deleter.StartDeletion() != TStartResult::Started)
      return;
    deleter.WaitForWorkers();
    deleter.DeletionFinished();
  });
  // QUIT's answer is not awaited: Dovecot may still be expunging.
  for (int i = 0; i < 200; ++i) {
    gone = before - static_cast<long>(dovecot.MessageCount("bob"));
    if (gone == ticks)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return s;
}

}  // namespace
}  // namespace pelorix

int main(int argc, char** argv) {
  using namespace pelorix;
  int messages = 100000, ticks = 10000;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--messages=", 11) == 0)
      messages = std::atoi(argv[i] + 11);
    if (std::strncmp(argv[i], "--ticks=", 8) == 0)
      ticks = std::atoi(argv[i] + 8);
  }
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty()) {
    std::fprintf(stderr, "skipped: %s\n", why.c_str());
    return 0;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  SpreadBenchFolders();

  test::TDovecotServer dovecot;
  const double warm = Seconds([&] { StartBenchDovecot(dovecot, messages); });
  std::printf("messages %d (set up and first scan %.1f s)\n", messages, warm);

  const fs::path home = NewHome(dovecot.HostPort());
  const TRun fresh = CommandLineCheck(home);
  const TRun second = CommandLineCheck(home);
  std::printf("%-36s %8.3f s  max RSS %6.1f MB\n", "CommandLine/HeaderCheck/FreshHome",
              fresh.Seconds, fresh.PeakMb);
  std::printf("%-36s %8.3f s  max RSS %6.1f MB\n", "CommandLine/HeaderCheck/SecondRun",
              second.Seconds, second.PeakMb);

  // The list of every row, saved as the check's end saves it.
  TMailList list;
  list.LoadRecordFile(AllRecordPath(home), true);
  const double save = Seconds([&] { list.SaveRecordFile(AllRecordPath(home)); });
  std::printf("%-36s %8.3f s  (%zu rows)\n", "List/SaveAllRec", save, list.Count());

  double load = -1, sort = -1, scrollWorst = -1, scrollAll = -1;
  int rows = 0;
  {
    auto store = TSettingsStore::Open(home);
    gui::TfrmReport window(home, *store);
    window.resize(1280, 800);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    auto* view = window.findChild<QTableView*>();
    // The window swept tmp/ as at every start; the list is written back as a
    // check of this session would leave it, and the "all mailboxes" view
    // reads it anew.
    list.SaveRecordFile(AllRecordPath(home));
    load = Seconds([&] {
      window.OutlookButtonClicked(0, 0);
      QApplication::processEvents();
    });
    rows = window.Model().rowCount();
    sort = Seconds([&] {
      window.HeaderClicked(mcDate);
      QApplication::processEvents();
    });
    if (view != nullptr) {
      QScrollBar* bar = view->verticalScrollBar();
      scrollAll = Seconds([&] {
        for (int page = 0; page < 200; ++page) {
          const double s = Seconds([&] {
            bar->setValue(bar->maximum() / 200 * page);
            view->viewport()->repaint();
          });
          scrollWorst = std::max(scrollWorst, s);
        }
      });
    }
  }
  std::printf("%-36s %8.3f s  (%d rows)\n", "Window/LoadList", load, rows);
  std::printf("%-36s %8.3f s\n", "Window/SortByDate", sort);
  std::printf("%-36s %8.3f s  (longest page %.1f ms)\n", "Window/Scroll200Pages", scrollAll,
              scrollWorst * 1000);

  long gone = 0;
  double deletion = -1;
  {
    auto store = TSettingsStore::Open(home);
    deletion = DeleteTicked(home, *store, ticks, gone, dovecot);
  }
  std::printf("%-36s %8.3f s  (%ld of %d gone, copies kept)\n", "Deletion/Ticked", deletion, gone,
              ticks);
  std::error_code ec;
  fs::remove_all(home, ec);
  return fresh.Seconds < 0 || second.Seconds < 0 || gone != ticks ? 1 : 0;
}
