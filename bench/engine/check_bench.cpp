// The full header check of a 10,000-message Dovecot mailbox through the
// engine (rows, record files, message file, per-message files, brief, the
// sink's calls), next to the bare protocol scan of the same mailbox.
//
//   pelorix_engine_bench [--messages=N] [benchmark options]

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/check_run.h"
#include "mime/mail_message.h"
#include "net/pop3_session.h"
#include "store/accounts.h"
#include "store/filter_lists.h"
#include "store/ip_table.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"
#include "support/dovecot.h"

namespace pelorix {
namespace {

namespace fs = std::filesystem;

int gMessages = 10000;

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string Message(int i) {
  const std::string n = std::to_string(i);
  return "Received: from mx" + n + ".example.org ([61.135." + std::to_string(i % 250) + "." +
         std::to_string(i % 200 + 1) + "]) by relay.example.net with ESMTP id " + n +
         "\nReceived: from relay.example.net ([202.96." + std::to_string(i % 60) +
         ".7]) by pop.example.org\nFrom: =?GB2312?B?1cXI/Q==?= <sender" + n +
         "@example.org>\nTo: bob@example.org\nSubject: " + (i % 10 == 0 ? "SALE now " : "report ") +
         n + "\nMessage-ID: <" + n +
         ".bench@example.org>\nDate: Tue, 08 Dec 2026 10:00:00 +0800\nMIME-Version: 1.0\n"
         "Content-Type: text/plain; charset=gb2312\nX-Priority: 3\n\nbody " +
         n + "\n";
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

struct TBenchMailbox {
  test::TDovecotServer dovecot;
  fs::path home;
  std::unique_ptr<TSettingsStore> store;

  TBenchMailbox() {
    std::vector<std::string> mails;
    mails.reserve(static_cast<std::size_t>(gMessages));
    for (int i = 1; i <= gMessages; ++i)
      mails.push_back(Message(i));
    dovecot.AddUser("bob", "pw", mails);
    dovecot.Start();
    std::string pattern = (fs::temp_directory_path() / "pelorix-bench-XXXXXX").string();
    home = mkdtemp(pattern.data());
    store = TSettingsStore::Open(home);
    SaveAccounts(*store, {{dovecot.HostPort(), "bob", "pw", ""}});
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
  ~TBenchMailbox() {
    store.reset();
    std::error_code ec;
    fs::remove_all(home, ec);
  }
};

TBenchMailbox& Mailbox() {
  static TBenchMailbox box;
  return box;
}

void BM_FullHeaderCheck(benchmark::State& state) {
  auto& box = Mailbox();
  long rows = 0;
  double cpu = 0;
  for (auto _ : state) {
    PrepareTmpFolder(box.home);
    TCountingSink sink;
    TCheckEngine engine(box.home, *box.store, sink);
    engine.LoadPlan();
    const double before = ProcessCpuSeconds();
    if (engine.StartHeaderCheck() != TStartResult::Started) {
      state.SkipWithError("check did not start");
      break;
    }
    engine.WaitForWorkers();
    TCheckFinished done = engine.CheckFinished();
    cpu += ProcessCpuSeconds() - before;
    rows = static_cast<long>(engine.MailList().Count());
    benchmark::DoNotOptimize(done);
  }
  if (rows != gMessages)
    state.SkipWithError("not every message was listed");
  const double n = static_cast<double>(gMessages) * static_cast<double>(state.iterations());
  state.counters["messages/s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
  state.counters["cpu_us/msg"] = cpu / n * 1e6;
}

// The protocol alone: LIST n and TOP n 0 for every message, no judging.
void BM_RawProtocolScan(benchmark::State& state) {
  auto& box = Mailbox();
  double cpu = 0;
  for (auto _ : state) {
    const double before = ProcessCpuSeconds();
    TPop3Session session;
    session.Host = box.dovecot.HostPort();
    session.Username = "bob";
    session.Password = "pw";
    session.Connect();
    const int count = session.MessageCount();
    TMailMessage message;
    for (int n = 1; n <= count; ++n) {
      message.Clear();
      benchmark::DoNotOptimize(session.MessageSize(n));
      session.FetchHeader(n, message);
    }
    session.Disconnect();
    cpu += ProcessCpuSeconds() - before;
  }
  const double n = static_cast<double>(gMessages) * static_cast<double>(state.iterations());
  state.counters["messages/s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
  state.counters["cpu_us/msg"] = cpu / n * 1e6;
}

BENCHMARK(BM_RawProtocolScan)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FullHeaderCheck)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace pelorix

int main(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--messages=", 11) == 0) {
      pelorix::gMessages = std::atoi(argv[i] + 11);
    } else {
      args.push_back(argv[i]);
    }
  }
  int n = static_cast<int>(args.size());
  if (auto why = pelorix::test::TDovecotServer::SkipReason(); !why.empty()) {
    std::fprintf(stderr, "skipped: %s\n", why.c_str());
    return 0;
  }
  benchmark::Initialize(&n, args.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
