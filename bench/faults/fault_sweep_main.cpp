// The whole fault sweep: every protocol point and `--offsets` byte offsets
// per direction of both runs, every file call of a deletion run failing in
// turn (EIO once, ENOSPC from there on), and `--count` kills of `pelorix
// delete` at random moments. Each case is reported as it breaks; the counts at the end.
//
//   pelorix_fault_sweep [--offsets 50] [--count 50] [--seed 1]
//                       [--file-messages 60] [--only protocol|bytes|files|kill]
//                       [--protocol pop3|imap|tls]

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "support/dovecot.h"
#include "support/fault_sweep.h"

namespace {

using namespace pelorix::test;

int Main(int argc, char** argv) {
  int offsets = 50, kills = 50, fileMessages = 60;
  TSweepProtocol protocol = TSweepProtocol::Pop3;
  unsigned seed = 1;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--offsets")
      offsets = std::atoi(argv[i + 1]);
    else if (option == "--count")
      kills = std::atoi(argv[i + 1]);
    else if (option == "--seed")
      seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    else if (option == "--file-messages")
      fileMessages = std::atoi(argv[i + 1]);
    else if (option == "--protocol")
      protocol = std::string(argv[i + 1]) == "imap"  ? TSweepProtocol::Imap
                 : std::string(argv[i + 1]) == "tls" ? TSweepProtocol::Pop3Tls
                                                     : TSweepProtocol::Pop3;
    else if (option == "--only")
      only = argv[i + 1];
    else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (argc % 2 == 0) {
    std::fprintf(stderr,
                 "usage: %s [--offsets N] [--count N] [--seed N] [--file-messages N] [--only WHAT] "
                 "[--protocol pop3|imap|tls]\n",
                 argv[0]);
    return 2;
  }
  if (auto why = TDovecotServer::SkipReason(); !why.empty()) {
    std::fprintf(stderr, "skipped: %s\n", why.c_str());
    return 0;
  }
  const auto start = std::chrono::steady_clock::now();
  TFaultSweep sweep(200, protocol);
  TSweepCounts counts;
  auto run = [&](const TCaseResult& r) {
    counts.Add(r);
    if (!r.Broken.empty())
      std::printf("BROKEN %s\n", counts.Failures.back().c_str());
    else
      std::printf("held   %s%s\n", r.Name.c_str(), r.Fired ? "" : " (not reached)");
    std::fflush(stdout);
  };
  for (const TSweepRun which : {TSweepRun::CheckDeleteRubbish, TSweepRun::Deletion}) {
    if (only.empty() || only == "protocol") {
      for (const TFault& f : sweep.ProtocolPoints(which))
        run(sweep.RunCase(which, f));
    }
    if ((only.empty() || only == "bytes") && offsets > 0) {
      for (const TFault& f : sweep.ByteOffsets(which, offsets))
        run(sweep.RunCase(which, f));
    }
    std::printf("%s: %d faults so far\n", RunName(which).c_str(), counts.Injected);
  }
  if ((only.empty() || only == "files") && fileMessages > 0) {
    // Every file call of a deletion run fails in turn, on a smaller mailbox
    // (each case is a whole run).
    TFaultSweep small(fileMessages, protocol);
    const int calls = small.RunFileFaultCase(0, 0, false).Calls;
    std::printf("a deletion of %d messages makes %d file calls\n", fileMessages, calls);
    for (int k = 1; k <= calls; ++k) {
      run(small.RunFileFaultCase(k, EIO, false));
      run(small.RunFileFaultCase(k, ENOSPC, true));
    }
  }
  if ((only.empty() || only == "kill") && kills > 0 && protocol == TSweepProtocol::Pop3) {
    const auto whole = sweep.CleanDeletionTime(PELORIX_BINARY);
    std::printf("a clean pelorix delete takes %lld ms; killing %d times within %lld ms\n",
                static_cast<long long>(whole.count()), kills,
                static_cast<long long>(whole.count() * 6 / 5));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> moment(0, whole.count() * 6 / 5);
    for (int i = 0; i < kills; ++i)
      run(sweep.RunKilledDeletion(PELORIX_BINARY, std::chrono::milliseconds(moment(random))));
  }
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("faults injected: %d\ninvariant held: %d\ninvariant broken: %d\n", counts.Injected,
              counts.Held, counts.Broken);
  std::printf("(of them not reached, the run ending first: %d; %.0f s)\n", counts.NotReached,
              seconds);
  return counts.Broken == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return Main(argc, argv);
}
