// Checks of one 10,000-message Dovecot mailbox through the engine (rows,
// record files, message file, per-message files, brief, the sink's calls),
// each run once and timed on the wall clock, in this order:
//
//   Poplib/ListTop              Python's poplib: LIST n + TOP n 0 per message
//   HeaderCheck/FreshHome       a home without tmp/
//   HeaderCheck/SecondRun       the same home again (tmp/ full of the first run)
//   HeaderCheck/Delay30ms       through a relay holding each packet 15 ms each way
//   HeaderCheck/Relay/...       through a relay without delay, pipelined and
//   ContentCheck/Relay/...      sequential (the relay hides PIPELINING), and
//   Deletion1000/Relay/...      directly (deletion of 1,000 ticked messages)
//   ContentCheck/Direct, Deletion1000/Direct
//
// The check's wall time does not include deleting the former run's files,
// which the sweep does after it (counter sweep_after_s).
//
//   pelorix_engine_bench [--messages=N] [--skip-delay] [benchmark options]
//
// Needs root and Dovecot (Debian dovecot-pop3d) and python3; skips itself
// otherwise.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/check_run.h"
#include "engine/delete_worker.h"
#include "mime/mail_message.h"
#include "net/pop3_session.h"
#include "store/accounts.h"
#include "store/filter_lists.h"
#include "store/ip_table.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"
#include "support/dovecot.h"
#include "support/process.h"

namespace pelorix {
namespace {

namespace fs = std::filesystem;
using test::TChildProcess;

int gMessages = 10000;
bool gSkipDelay = false;

// With PELORIX_BENCH_PERF_FIFO naming the control fifo of
// `perf record --control=fifo:FIFO -D -1`, only the timed parts are profiled.
class TProfileWindow {
 public:
  TProfileWindow() { Send("enable\n"); }
  ~TProfileWindow() { Send("disable\n"); }
  TProfileWindow(const TProfileWindow&) = delete;
  TProfileWindow& operator=(const TProfileWindow&) = delete;

 private:
  static void Send(const char* command) {
    const char* fifo = std::getenv("PELORIX_BENCH_PERF_FIFO");
    if (fifo == nullptr || *fifo == '\0')
      return;
    if (std::FILE* f = std::fopen(fifo, "w")) {
      std::fputs(command, f);
      std::fclose(f);
    }
  }
};

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// About 2.4 KB like ordinary mail: two or three Received lines, an encoded
// subject and sender, the usual header lines and a short text body.
std::string Message(int i) {
  const std::string n = std::to_string(i);
  const std::string ip = "61.135." + std::to_string(i % 250) + "." + std::to_string(i % 200 + 1);
  std::string text =
      "Return-Path: <sender" + n + "@example.org>\n" +
      (i % 3 == 0 ? "Received: from pop.example.org (pop.example.org [10.0.0.5])\n\tby "
                    "store.example.org with LMTP id " +
                        n + "; Tue, 08 Dec 2026 10:00:02 +0800\n"
                  : "") +
      "Received: from relay.example.net ([202.96." + std::to_string(i % 60) +
      ".7])\n\tby pop.example.org (Postfix) with ESMTPS id A" + n +
      "\n\tfor <bob@example.org>; Tue, 08 Dec 2026 10:00:01 +0800 (CST)\n"
      "Received: from mx" +
      n + ".example.org ([" + ip + "])\n\tby relay.example.net with ESMTP id " + n +
      "\n\tfor <bob@example.org>; Tue, 08 Dec 2026 10:00:00 +0800\n"
      "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.org; s=mail;\n"
      "\tbh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;\n"
      "\tb=dzdVyOfAKCdLXdJOc9G2q8LoXSlEniSbav+yuU4zGeeruD00lszZVoG4ZHRNiYzR\n"
      "From: =?GB2312?B?1cXI/Q==?= <sender" +
      n +
      "@example.org>\n"
      "To: bob@example.org\n"
      "Subject: =?GB2312?B?suLK1NPKvP4=?= " +
      (i % 10 == 0 ? "SALE now " : "report ") + n +
      "\n"
      "Message-ID: <" +
      n +
      ".bench@example.org>\n"
      "Date: Tue, 08 Dec 2026 10:00:00 +0800\n"
      "MIME-Version: 1.0\n"
      "Content-Type: text/plain; charset=gb2312\n"
      "Content-Transfer-Encoding: 8bit\n"
      "X-Priority: 3\n"
      "X-Mailer: Bench Mailer 1.0\n"
      "List-Unsubscribe: <mailto:unsubscribe-" +
      n + "@example.org>\n\n";
  for (int line = 0; line < 16; ++line) {
    text += "Line " + std::to_string(line) + " of message " + n +
            ", some ordinary text to give the body its usual size.\n";
  }
  return text;
}

// Counts the sink's calls; the work a front end would do is not measured.
class TCountingSink : public TFrontEndSink {
 public:
  void StatusRefresh(const TStatusTexts&) override { ++Calls; }
  void MailRowAdded(std::size_t, const TMailRow&) override { ++Calls; }
  void MailboxCountersUpdate(const TMailboxCounters&) override { ++Calls; }
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  std::atomic<long> Calls{0};
};

// A home folder whose one account is the given server.
struct TBenchHome {
  fs::path home;
  std::unique_ptr<TSettingsStore> store;

  explicit TBenchHome(const std::string& server) {
    std::string pattern = (fs::temp_directory_path() / "pelorix-bench-XXXXXX").string();
    home = mkdtemp(pattern.data());
    store = TSettingsStore::Open(home);
    SaveAccounts(*store, {{server, "bob", "pw", ""}});
    TFilterLists lists;
    lists.Sender = {"spam.example", "promo@", "noreply@ads"};
    lists.Subject = {"SALE", "viagra", "lottery"};
    lists.Length = {">=1000000"};
    SaveFilterLists(*store, lists);
    TMailPlan plan;
    plan.Load(*store);
    plan.CheckSummary = true;
    plan.Save(*store);
    // An IP table of 4096 ranges, so each hop costs a real binary search.
    std::vector<TIpRecord> rows;
    for (int a = 1; a <= 255; ++a) {
      for (int b = 0; b < 256; b += 16) {
        char start[16], end[16];
        std::snprintf(start, sizeof start, "%03d.%03d.000.000", a, b);
        std::snprintf(end, sizeof end, "%03d.%03d.255.255", a, b + 15);
        rows.push_back({start, end, "区域" + std::to_string(a), "地点" + std::to_string(b)});
      }
    }
    fs::create_directories(home / "modal");
    ExportIpTable(home / "modal" / "ip.dat", rows);
  }
  ~TBenchHome() {
    store.reset();
    std::error_code ec;
    fs::remove_all(home, ec);
  }
};

// The relay of bench/tools/delay_proxy.py on a free port.
struct TRelay {
  TChildProcess process;
  int port = test::FreeLoopbackPort();
  TRelay(int target, int delayMs, bool hidePipelining) {
    std::vector<std::string> argv = {"/usr/bin/env",
                                     "python3",
                                     PELORIX_BENCH_TOOLS "/delay_proxy.py",
                                     std::to_string(port),
                                     std::to_string(target),
                                     std::to_string(delayMs)};
    if (hidePipelining)
      argv.push_back("--no-pipelining");
    process.Start(argv);
    test::WaitForPort(port, std::chrono::seconds(10));
  }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port); }
};

struct TBench {
  test::TDovecotServer dovecot;
  std::string poplibScript;

  TBench() {
    std::vector<std::string> mails;
    mails.reserve(static_cast<std::size_t>(gMessages));
    for (int i = 1; i <= gMessages; ++i)
      mails.push_back(Message(i));
    dovecot.AddUser("bob", "pw", mails);
    dovecot.Start();
    poplibScript = dovecot.Folder() + "/poplib_scan.py";
    test::WriteFile(poplibScript, R"PY(
import poplib, sys
p = poplib.POP3(sys.argv[1], int(sys.argv[2]))
p.user("bob"); p.pass_("pw")
count = p.stat()[0]
for n in range(1, count + 1):
    p.list(n)
    p.top(n, 0)
p.quit()
)PY");
    // Dovecot builds its index and header cache on the first scan, which no
    // measured run should pay.
    TPop3Session session;
    session.Host = dovecot.HostPort();
    session.Username = "bob";
    session.Password = "pw";
    session.Connect();
    const int count = session.MessageCount();
    for (int n = 1; n <= count; ++n) {
      TMailMessage msg;
      session.FetchHeader(n, msg);
    }
    session.Disconnect();
  }
};

TBench* gBench = nullptr;

void Counters(benchmark::State& state, long messages, double cpu) {
  state.counters["messages"] = static_cast<double>(messages);
  state.counters["cpu_s"] = cpu;
}

// One check run on a home; fails the benchmark unless every message is listed.
void Check(benchmark::State& state, TBenchHome& home, bool whole) {
  TCountingSink sink;
  long rows = 0;
  double cpu = 0, sweepSeconds = 0;
  for (auto _ : state) {
    const double before = ProcessCpuSeconds();
    auto profile = std::make_optional<TProfileWindow>();
    TTmpSweep sweep = PrepareTmpFolder(home.home);
    TCheckEngine engine(home.home, *home.store, sink);
    engine.LoadPlan();
    const TStartResult started = whole ? engine.StartContentCheck() : engine.StartHeaderCheck();
    if (started != TStartResult::Started) {
      state.SkipWithError("check did not start");
      return;
    }
    engine.WaitForWorkers();
    TCheckFinished done = engine.CheckFinished();
    rows = static_cast<long>(engine.MailList().Count());
    benchmark::DoNotOptimize(done);
    cpu += ProcessCpuSeconds() - before;
    profile.reset();
    // The former run's files go after the check, as on the command line.
    state.PauseTiming();
    const auto sweepStart = std::chrono::steady_clock::now();
    sweep.Wait();
    sweepSeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - sweepStart).count();
    state.ResumeTiming();
  }
  state.counters["sweep_after_s"] = sweepSeconds;
  if (rows != static_cast<long>(gBench->dovecot.MessageCount("bob")) && rows != gMessages)
    state.SkipWithError(("only " + std::to_string(rows) + " messages listed").c_str());
  Counters(state, rows, cpu);
}

// Ticks `ticks` rows (spread evenly from `first`) after an untimed header
// check, then times the deletion run.
void Delete(benchmark::State& state, TBenchHome& home, int first, int ticks) {
  TCountingSink sink;
  double cpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TTmpSweep sweep = PrepareTmpFolder(home.home);
    sweep.Wait();
    TCheckEngine engine(home.home, *home.store, sink);
    engine.LoadPlan();
    engine.StartHeaderCheck();
    engine.WaitForWorkers();
    engine.CheckFinished();
    // Exactly these rows: the check ticks its spam rows by itself.
    for (std::size_t i = 0; i < engine.MailList().Count(); ++i)
      engine.MailList().SetChecked(i, false);
    // Earlier deletion runs shrank the mailbox; the step keeps the count.
    const std::size_t rows = engine.MailList().Count();
    const std::size_t step = std::max<std::size_t>(1, rows / static_cast<std::size_t>(ticks));
    int ticked = 0;
    for (std::size_t i = static_cast<std::size_t>(first); i < rows && ticked < ticks;
         i += step, ++ticked)
      engine.MailList().SetChecked(i, true);
    TDeleteEngine deleter(engine.State(), *home.store, sink);
    const long before = static_cast<long>(gBench->dovecot.MessageCount("bob"));
    const double cpuBefore = ProcessCpuSeconds();
    state.ResumeTiming();
    auto profile = std::make_optional<TProfileWindow>();
    if (deleter.StartDeletion() != TStartResult::Started) {
      state.SkipWithError("deletion did not start");
      return;
    }
    deleter.WaitForWorkers();
    deleter.DeletionFinished();
    cpu += ProcessCpuSeconds() - cpuBefore;
    profile.reset();
    state.PauseTiming();
    // QUIT's answer is not awaited: Dovecot may still be expunging.
    long gone = 0;
    for (int i = 0; i < 100 && gone != ticked; ++i) {
      gone = before - static_cast<long>(gBench->dovecot.MessageCount("bob"));
      if (gone != ticked)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Counters(state, gone, cpu);
    state.ResumeTiming();
    if (gone != ticked)
      state.SkipWithError(
          ("deleted " + std::to_string(gone) + " of " + std::to_string(ticked)).c_str());
  }
}

void Register(const std::string& name, std::function<void(benchmark::State&)> fn) {
  benchmark::RegisterBenchmark(name.c_str(), std::move(fn))
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
}

// The bench's folders (mailbox, homes) go below a folder that ext4 treats as
// a top-level one, so each lands in a block group of its own. Without a
// journal, ext4 avoids reusing inodes freed in the last minutes by scanning
// past every one of them; the files a previous bench run deleted on leaving
// would otherwise slow the next run's fresh home by seconds, which is not
// what a user's first check meets.
void SpreadBenchFolders() {
  const fs::path base = fs::temp_directory_path() / "pelorix-bench-spread";
  std::error_code ec;
  fs::create_directories(base, ec);
  const int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return;
  int flags = 0;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
    flags |= FS_TOPDIR_FL;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
  }
  ::close(fd);
  ::setenv("TMPDIR", base.c_str(), 1);
}

}  // namespace
}  // namespace pelorix

int main(int argc, char** argv) {
  using namespace pelorix;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--messages=", 11) == 0)
      gMessages = std::atoi(argv[i] + 11);
    else if (std::strcmp(argv[i], "--skip-delay") == 0)
      gSkipDelay = true;
    else
      args.push_back(argv[i]);
  }
  int n = static_cast<int>(args.size());
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty()) {
    std::fprintf(stderr, "skipped: %s\n", why.c_str());
    return 0;
  }
  benchmark::Initialize(&n, args.data());
  SpreadBenchFolders();
  TBench bench;
  gBench = &bench;
  const int port = bench.dovecot.Port();
  TBenchHome direct(bench.dovecot.HostPort());
  TRelay delayed(port, 15, false), relay(port, 0, false), hidden(port, 0, true);
  TBenchHome delayedHome(delayed.HostPort()), relayHome(relay.HostPort()),
      hiddenHome(hidden.HostPort());

  Register("Poplib/ListTop", [&](benchmark::State& state) {
    for (auto _ : state) {
      TChildProcess python;
      python.Start(
          {"/usr/bin/env", "python3", bench.poplibScript, "127.0.0.1", std::to_string(port)});
      if (python.Wait() != 0)
        state.SkipWithError("poplib run failed");
    }
  });
  Register("HeaderCheck/FreshHome", [&](benchmark::State& s) { Check(s, direct, false); });
  Register("HeaderCheck/SecondRun", [&](benchmark::State& s) { Check(s, direct, false); });
  if (!gSkipDelay)
    Register("HeaderCheck/Delay30ms", [&](benchmark::State& s) { Check(s, delayedHome, false); });
  Register("HeaderCheck/Relay/Pipelined", [&](benchmark::State& s) { Check(s, relayHome, false); });
  Register("HeaderCheck/Relay/Sequential",
           [&](benchmark::State& s) { Check(s, hiddenHome, false); });
  Register("ContentCheck/Direct", [&](benchmark::State& s) { Check(s, direct, true); });
  Register("ContentCheck/Relay/Pipelined", [&](benchmark::State& s) { Check(s, relayHome, true); });
  Register("ContentCheck/Relay/Sequential",
           [&](benchmark::State& s) { Check(s, hiddenHome, true); });
  Register("Deletion1000/Direct", [&](benchmark::State& s) { Delete(s, direct, 0, 1000); });
  Register("Deletion1000/Relay/Pipelined",
           [&](benchmark::State& s) { Delete(s, relayHome, 1, 1000); });
  Register("Deletion1000/Relay/Sequential",
           [&](benchmark::State& s) { Delete(s, hiddenHome, 2, 1000); });
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
