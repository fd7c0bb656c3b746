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
//   HeaderCheck/JudgeOff        the second run with the learning judge off,
//   HeaderCheck/Judged/...      and on, having learnt 2,000 of the messages
//                               (first run: every message starts waiting;
//                               second run; with 20 body lines peeked)
//   Learn/10000, Learn/20000    `pelorix learn` of that many .eml files into
//                               a fresh store (counter store_mb)
//   ContentCheck/Direct, Deletion1000/Direct (copies kept before each
//   deletion, as by default), Deletion1000/Direct/NoCopies
//   Imap/HeaderCheck/Direct     the same mailbox over IMAP, right after the
//   Imap/HeaderCheck/Delay30ms  POP3 runs above, and through the relay
//   Imap/Deletion1000/Direct    1,000 ticked moved to Junk, with and
//   Imap/Deletion1000/Direct/NoCopies  without the copies kept
//
// The check's wall time does not include deleting the former run's files,
// which the sweep does after it (counter sweep_after_s).
//
// On ext4 without a journal the kernel will not reuse an inode freed in the
// last one to six minutes and steps over each such inode at every file it
// creates: a run started within minutes of another one's clean-up may find
// its fresh home in a block group that clean-up emptied, and pays seconds
// for it (a cpu_s far above the second run's shows it). Leave six minutes
// between runs for the fresh home's figure.
//
//   pelorix_engine_bench [--messages=N] [--skip-delay] [benchmark options]
//
// Profiling only the timed parts: see common/profile_window.h.
//
// Needs root and Dovecot (Debian dovecot-pop3d, dovecot-imapd) and python3;
// skips itself otherwise.

#include <benchmark/benchmark.h>
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

#include "common/bench_mailbox.h"
#include "common/bench_server.h"
#include "common/profile_window.h"
#include "engine/check_run.h"
#include "engine/delete_worker.h"
#include "engine/learn_sources.h"
#include "engine/origin.h"
#include "mime/mail_message.h"
#include "net/pop3_session.h"
#include "store/account_imap.h"
#include "store/connection_security.h"
#include "store/settings_store.h"
#include "support/dovecot.h"
#include "support/process.h"

namespace pelorix {
namespace {

namespace fs = std::filesystem;
using test::TChildProcess;

int gMessages = 10000;
bool gSkipDelay = false;

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
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
    SetUpBenchHome(*store, home, server);
  }
  // The account as an IMAP account (plain text, INBOX, move to Junk).
  void Imap(const std::string& server) {
    WriteAccountSecurity(*store, "bob[" + server + "]", "none");
    WriteImapSettings(*store, "bob[" + server + "]", TImapAccountSettings{});
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
    StartBenchDovecot(dovecot, gMessages, true);
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
// check, then times the deletion run, with or without the copies kept
// before each deletion.
void Delete(benchmark::State& state, TBenchHome& home, int first, int ticks,
            bool keepCopies = true) {
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
    TMailPlan plan = engine.State().Plan();
    plan.Quarantine = keepCopies;
    engine.State().SetPlan(plan);
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

void SetJudge(TBenchHome& home, bool on, int peekLines) {
  TMailPlan plan;
  plan.Load(*home.store);
  plan.AutoJudge = on;
  plan.PeekLines = peekLines;
  plan.Save(*home.store);
}

// Every tenth message of the bench is spam ("SALE now"), as it is learnt.
void LearnBenchMessages(const fs::path& home, int count) {
  auto store = TTokenStore::Open(TTokenStore::PathIn(home));
  TIpLocationTable table(home);
  table.Refresh();
  store->Begin();
  for (int i = 1; i <= count; ++i)
    LearnMessageText(*store, BenchMessage(i), i % 10 == 0 ? TLearnClass::Spam : TLearnClass::Good,
                     table);
  store->Commit();
}

void Learn(benchmark::State& state, int count) {
  test::TTempFolder folder("pelorix-learn-bench");
  const fs::path spam = fs::path(folder.Path()) / "spam", good = fs::path(folder.Path()) / "good";
  fs::create_directories(spam);
  fs::create_directories(good);
  for (int i = 1; i <= count; ++i)
    test::WriteFile(((i % 10 == 0 ? spam : good) / (std::to_string(i) + ".eml")).string(),
                    BenchMessage(i));
  double cpu = 0;
  std::uintmax_t bytes = 0;
  for (auto _ : state) {
    TBenchHome home("127.0.0.1:1");
    const double before = ProcessCpuSeconds();
    auto store = TTokenStore::Open(TTokenStore::PathIn(home.home));
    TIpLocationTable table(home.home);
    table.Refresh();
    LearnSources(*store, {spam}, TLearnClass::Spam, table);
    LearnSources(*store, {good}, TLearnClass::Good, table);
    store.reset();  // closing checkpoints the log into the file
    cpu += ProcessCpuSeconds() - before;
    std::error_code ec;
    bytes = fs::file_size(TTokenStore::PathIn(home.home), ec);
  }
  Counters(state, count, cpu);
  state.counters["store_mb"] = static_cast<double>(bytes) / 1e6;
}

void Register(const std::string& name, std::function<void(benchmark::State&)> fn) {
  benchmark::RegisterBenchmark(name.c_str(), std::move(fn))
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
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
  TBenchHome imapHome(bench.dovecot.ImapHostPort());
  imapHome.Imap(bench.dovecot.ImapHostPort());
  TRelay imapDelayed(bench.dovecot.ImapPort(), 15, false);
  TBenchHome imapDelayedHome(imapDelayed.HostPort());
  imapDelayedHome.Imap(imapDelayed.HostPort());

  Register("HeaderCheck/FreshHome", [&](benchmark::State& s) { Check(s, direct, false); });
  Register("HeaderCheck/SecondRun", [&](benchmark::State& s) { Check(s, direct, false); });
  // Once to let Dovecot build its IMAP index, then timed beside the POP3 run.
  Register("Imap/HeaderCheck/Warm", [&](benchmark::State& s) { Check(s, imapHome, false); });
  Register("Imap/HeaderCheck/Direct", [&](benchmark::State& s) { Check(s, imapHome, false); });
  if (!gSkipDelay)
    Register("Imap/HeaderCheck/Delay30ms",
             [&](benchmark::State& s) { Check(s, imapDelayedHome, false); });
  if (!gSkipDelay)
    Register("HeaderCheck/Delay30ms", [&](benchmark::State& s) { Check(s, delayedHome, false); });
  Register("HeaderCheck/Relay/Pipelined", [&](benchmark::State& s) { Check(s, relayHome, false); });
  Register("HeaderCheck/Relay/Sequential",
           [&](benchmark::State& s) { Check(s, hiddenHome, false); });
  Register("ContentCheck/Direct", [&](benchmark::State& s) { Check(s, direct, true); });
  Register("ContentCheck/Relay/Pipelined", [&](benchmark::State& s) { Check(s, relayHome, true); });
  Register("ContentCheck/Relay/Sequential",
           [&](benchmark::State& s) { Check(s, hiddenHome, true); });
  TBenchHome judgeOff(bench.dovecot.HostPort()), judged(bench.dovecot.HostPort());
  SetJudge(judgeOff, false, 0);
  LearnBenchMessages(judged.home, 2000);
  Register("HeaderCheck/JudgeOff/FirstRun",
           [&](benchmark::State& s) { Check(s, judgeOff, false); });
  Register("HeaderCheck/JudgeOff", [&](benchmark::State& s) { Check(s, judgeOff, false); });
  Register("HeaderCheck/Judged/FirstRun", [&](benchmark::State& s) { Check(s, judged, false); });
  Register("HeaderCheck/Judged/SecondRun", [&](benchmark::State& s) { Check(s, judged, false); });
  Register("HeaderCheck/Judged/Peek20", [&](benchmark::State& s) {
    SetJudge(judged, true, 20);
    Check(s, judged, false);
    SetJudge(judged, true, 0);
  });
  Register("Learn/10000", [&](benchmark::State& s) { Learn(s, 10000); });
  Register("Learn/20000", [&](benchmark::State& s) { Learn(s, 20000); });
  Register("Deletion1000/Direct", [&](benchmark::State& s) { Delete(s, direct, 0, 1000); });
  Register("Deletion1000/Direct/NoCopies",
           [&](benchmark::State& s) { Delete(s, direct, 3, 1000, false); });
  Register("Deletion1000/Relay/Pipelined",
           [&](benchmark::State& s) { Delete(s, relayHome, 1, 1000); });
  Register("Deletion1000/Relay/Sequential",
           [&](benchmark::State& s) { Delete(s, hiddenHome, 2, 1000); });
  Register("Imap/Deletion1000/Direct", [&](benchmark::State& s) { Delete(s, imapHome, 4, 1000); });
  Register("Imap/Deletion1000/Direct/NoCopies",
           [&](benchmark::State& s) { Delete(s, imapHome, 5, 1000, false); });
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
