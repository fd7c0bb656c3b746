// Long life: header checks in a row (300 by default) in one process
// through the engine, each against the next of a ring of hostile POP3
// servers (drops, stalls, refusals, odd listings, one-byte sends, a long
// header line). Resident memory after the tenth and the last check must be
// within 5%, and the open descriptors must not grow.
//
//   pelorix_soak [--checks 300]
//
// The servers live in a forked child, so that what they record is not
// counted as ours.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/check_run.h"
#include "store/accounts.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"
#include "support/fake_server.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using namespace pelorix;

constexpr int kReadTimeoutMs = 300;

std::vector<std::function<void(test::TPop3Mailbox&)>> Behaviours() {
  return {
      [](auto& s) {
        s.SetCapabilities({"TOP", "UIDL", "PIPELINING"});
      },
      [](auto& s) { s.DropOn("TOP 5 "); },
      [](auto& s) { s.StallOn("TOP 3 "); },
      [](auto& s) { s.ReplaceReply("TOP 2 ", "-ERR gone"); },
      [](auto& s) { s.SetChunking(1, false); },
      [](auto& s) { s.SetGreeting("-ERR go away"); },
      [](auto& s) { s.ReplaceReply("PASS", "-ERR [AUTH] denied"); },
      [](auto& s) {
        s.ReplaceReply("LIST", "+OK\r\n1 abc\r\n2 -7\r\n99999999999999999999 1\r\n.");
      },
      [](auto& s) { s.ReplaceReply("STAT", "+OK 99999999999999999999 1"); },
      [](auto& s) { s.ReplaceReply("TOP 4 ", "+OK\r\nSubject: cut short"); },
      [](auto& s) {
        s.SetCapabilities({"PIPELINING"});
        s.DropOn("TOP 9 ");
      },
  };
}

std::vector<std::string> Mailbox(int server) {
  std::vector<std::string> m;
  for (int i = 1; i <= 30; ++i) {
    const std::string n = std::to_string(i);
    std::string text = "Received: from a.example ([61.135.1." + n +
                       "]) by b.example\nFrom: sender" + n + "@example.org\nSubject: s" + n +
                       "\nMessage-ID: <soak" + n + "." + std::to_string(server) + "@x>\n";
    if (i == 6)
      text += "X-Wide: " + std::string(150000, 'w') + "\n";
    m.push_back(text + "\nbody " + n + "\n");
  }
  return m;
}

// Runs the servers in a child until the pipe closes; their ports, in order.
std::vector<int> StartServers(pid_t& child, int& keepAlive) {
  int ports[2], alive[2];
  if (::pipe(ports) != 0 || ::pipe(alive) != 0)
    std::exit(1);
  child = ::fork();
  if (child == 0) {
    ::close(ports[0]);
    ::close(alive[1]);
    std::vector<std::unique_ptr<test::TPop3Mailbox>> servers;
    const auto behaviours = Behaviours();
    for (std::size_t i = 0; i < behaviours.size(); ++i) {
      servers.push_back(std::make_unique<test::TPop3Mailbox>());
      servers.back()->AddUser("bob", "pw", Mailbox(static_cast<int>(i)));
      behaviours[i](*servers.back());
      servers.back()->Start();
      const int port = servers.back()->Port();
      if (::write(ports[1], &port, sizeof port) != sizeof port)
        ::_exit(1);
    }
    ::close(ports[1]);
    char c;
    while (::read(alive[0], &c, 1) > 0) {
    }
    ::_exit(0);
  }
  ::close(ports[1]);
  ::close(alive[0]);
  keepAlive = alive[1];
  std::vector<int> result;
  for (int port; ::read(ports[0], &port, sizeof port) == sizeof port;)
    result.push_back(port);
  ::close(ports[0]);
  return result;
}

long ResidentKb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0)
      return std::atol(line.c_str() + 6);
  }
  return -1;
}

int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd"))
    ++n;
  return n - 1;  // the iterator's own
}

class TQuietSink : public TFrontEndSink {
 public:
  void StatusRefresh(const TStatusTexts& t) override { lines += !t.NewLogLine.empty(); }
  void MailRowAdded(std::size_t, const TMailRow&) override { ++rows; }
  void MailboxCountersUpdate(const TMailboxCounters&) override {}
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  long lines = 0, rows = 0;
};

int Main(int argc, char** argv) {
  int checks = 300;
  if (argc == 3 && std::string(argv[1]) == "--checks")
    checks = std::atoi(argv[2]);
  else if (argc != 1) {
    std::fprintf(stderr, "usage: %s [--checks N]\n", argv[0]);
    return 2;
  }
  pid_t child = -1;
  int keepAlive = -1;
  const std::vector<int> ports = StartServers(child, keepAlive);
  if (ports.size() != Behaviours().size()) {
    std::fprintf(stderr, "the servers did not start\n");
    return 1;
  }
  test::TTempFolder home("pelorix-soak");
  long rss10 = 0;
  int fd10 = 0;
  long rows = 0;
  {
    auto store = TSettingsStore::Open(home.Path());
    std::vector<TAccount> accounts;
    for (const int port : ports)
      accounts.push_back({"127.0.0.1:" + std::to_string(port), "bob", "pw", ""});
    SaveAccounts(*store, accounts);
    TMailPlan plan;
    plan.Load(*store);
    plan.CheckSummary = true;
    plan.Save(*store);
    for (int i = 1; i <= checks; ++i) {
      const TAccount& a = accounts[static_cast<std::size_t>(i - 1) % accounts.size()];
      TTmpSweep sweep = PrepareTmpFolder(home.Path());
      TQuietSink sink;
      TCheckEngine engine(home.Path(), *store, sink);
      engine.LoadPlan();
      engine.State().ReadTimeoutMs = kReadTimeoutMs;
      if (engine.StartHeaderCheck(AccountKey(a)) != TStartResult::Started) {
        std::fprintf(stderr, "check %d did not start\n", i);
        return 1;
      }
      engine.WaitForWorkers();
      engine.CheckFinished();
      sweep.Wait();
      rows += sink.rows;
      if (i % 50 == 0)
        std::fprintf(stderr, "after check %d: %ld kB, %d descriptors\n", i, ResidentKb(),
                     OpenDescriptors());
      if (i == 10) {
        rss10 = ResidentKb();
        fd10 = OpenDescriptors();
      }
    }
  }
  const long rssLast = ResidentKb();
  const int fdLast = OpenDescriptors();
  ::close(keepAlive);
  ::waitpid(child, nullptr, 0);
  const double growth = rss10 > 0 ? 100.0 * (rssLast - rss10) / rss10 : 0;
  std::printf("checks: %d against %zu servers, %ld rows listed\n", checks, ports.size(), rows);
  std::printf("resident memory after check 10: %ld kB, after check %d: %ld kB (%+.1f%%)\n", rss10,
              checks, rssLast, growth);
  std::printf("open descriptors after check 10: %d, after check %d: %d\n", fd10, checks, fdLast);
  const bool held = growth <= 5.0 && fdLast <= fd10;
  std::printf("%s\n", held ? "soak held" : "soak BROKEN");
  return held ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return Main(argc, argv);
}
