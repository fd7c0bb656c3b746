// The header check of one Dovecot mailbox started from the main window
// (offscreen platform, rows drawn as they arrive), next to the same check
// on the command line (`pelorix check`), each on a fresh home and again on
// the same home, timed on the wall clock from the start to the finished
// handler (brief shown, list saved).
//
//   pelorix_window_bench [--messages=N]
// Profiling only the window's checks: see common/profile_window.h.
//
// Needs root, Dovecot (Debian dovecot-pop3d); skips itself otherwise.

#include <sys/resource.h>
#include <QAction>

#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "common/bench_mailbox.h"
#include "common/bench_server.h"
#include "common/profile_window.h"
#include "engine/run_lock.h"
#include "gui/mail_list_model.h"
#include "gui/main_window.h"
#include "mime/mail_message.h"
#include "net/pop3_session.h"
#include "store/settings_store.h"
#include "support/dovecot.h"

namespace pelorix {
namespace {

namespace fs = std::filesystem;

double ThreadCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double CommandLineCheck(const fs::path& home) {
  std::ostringstream out, err;
  int status = -1;
  const double s = Seconds([&] {
    status = RunCommandLine({"--home", home.string(), "check"}, out, err);
  });
  if (status != 0)
    std::fprintf(stderr, "pelorix check failed: %s\n", err.str().c_str());
  return s;
}

// Triggers the window's header check and runs the event loop until the
// finished handler has run; -1 when it does not end within ten minutes.
double WindowCheck(gui::TfrmReport& window) {
  auto* action = window.findChild<QAction*>(QStringLiteral("sbtnCheckHeader"));
  if (action == nullptr)
    return -1;
  bool ended = false;
  const double cpuBefore = ThreadCpuSeconds();
  const double s = Seconds([&] {
    TProfileWindow profile;
    action->trigger();
    // The application's own event loop, idle between events as in use.
    QEventLoop loop;
    QTimer poll;
    int ticks = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      ended = !window.Running();
      if (ended || ++ticks > 60000)
        loop.quit();
    });
    poll.start(10);
    loop.exec();
  });
  std::printf("  window thread cpu %.3f s\n", ThreadCpuSeconds() - cpuBefore);
  return ended ? s : -1;
}

}  // namespace
}  // namespace pelorix

int main(int argc, char** argv) {
  using namespace pelorix;
  int messages = 10000;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--messages=", 11) == 0)
      messages = std::atoi(argv[i] + 11);
  }
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty()) {
    std::fprintf(stderr, "skipped: %s\n", why.c_str());
    return 0;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  SpreadBenchFolders();

  test::TDovecotServer dovecot;
  StartBenchDovecot(dovecot, messages);

  const fs::path cliHome = NewHome(dovecot.HostPort());
  const double cliFresh = CommandLineCheck(cliHome);
  const double cliSecond = CommandLineCheck(cliHome);

  const fs::path windowHome = NewHome(dovecot.HostPort());
  double windowFresh = -1, windowSecond = -1, windowRestart = -1;
  long rows = 0;
  {
    auto store = TSettingsStore::Open(windowHome);
    {
      gui::TfrmReport window(windowHome, *store);
      window.show();
      (void)QTest::qWaitForWindowExposed(&window);
      windowFresh = WindowCheck(window);
      windowSecond = WindowCheck(window);
      rows = window.Model().rowCount();
    }
    // A new window on the same home: its tmp/ is made afresh from the
    // former run's files, as at every start.
    gui::TfrmReport window(windowHome, *store);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    windowRestart = WindowCheck(window);
  }

  std::printf("messages %d, rows in the window %ld\n", messages, rows);
  std::printf("%-34s %8.3f s\n", "CommandLine/FreshHome", cliFresh);
  std::printf("%-34s %8.3f s\n", "CommandLine/SecondRun", cliSecond);
  std::printf("%-34s %8.3f s  (%.2fx the command line)\n", "Window/FreshHome", windowFresh,
              windowFresh / cliFresh);
  std::printf("%-34s %8.3f s  (%.2fx)\n", "Window/SecondCheckSameWindow", windowSecond,
              windowSecond / cliSecond);
  std::printf("%-34s %8.3f s  (%.2fx)\n", "Window/NewWindowSameHome", windowRestart,
              windowRestart / cliSecond);
  std::error_code ec;
  fs::remove_all(cliHome, ec);
  fs::remove_all(windowHome, ec);
  return windowFresh < 0 || windowSecond < 0 || windowRestart < 0 ? 1 : 0;
}
