#pragma once
// Faulted runs of the engine against a real Dovecot through the fault
// proxy, each on a fresh mailbox and home, checked with the invariants:
//
//   TFaultSweep sweep;                       // 200 messages, mixed
//   auto points = sweep.ProtocolPoints(TSweepRun::Deletion);
//   for (const auto& fault : points) {
//     TCaseResult r = sweep.RunCase(TSweepRun::Deletion, fault);
//     ... r.Broken holds what did not hold ...
//   }
//
// The two runs: a header check with DeleteRubbish (the sender list marks
// part of the mailbox as spam) and a deletion run of a ticked mixture,
// after a clean check. After the faulted run the next normal check must
// complete and agree with the server.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/fault_proxy.h"

namespace pelorix::test {

class TDovecotServer;
class TTestCertificates;

enum class TSweepRun { CheckDeleteRubbish, Deletion };
// POP3 and IMAP (deletions moving to Junk) in plain text, POP3 over TLS
// from the first byte (byte offsets only: the proxy cannot read commands).
enum class TSweepProtocol { Pop3, Imap, Pop3Tls };
std::string RunName(TSweepRun run);

struct TCaseResult {
  std::string Name;
  bool Fired = false;  // the fault was reached
  int Calls = 0;       // file calls seen (file fault cases)
  std::vector<std::string> Broken;
};

struct TSweepCounts {
  int Injected = 0;
  int Held = 0;
  int Broken = 0;
  int NotReached = 0;  // the run ended before the fault's point
  std::vector<std::string> Failures;
  void Add(const TCaseResult& r);
};

class TFaultSweep {
 public:
  // Kills are POP3 only.
  explicit TFaultSweep(int messages = 200, TSweepProtocol protocol = TSweepProtocol::Pop3);
  ~TFaultSweep();

  // The mailbox and which of it a run may delete.
  const std::vector<std::string>& Mailbox() const { return mailbox_; }
  std::set<std::string> Allowed(TSweepRun run) const;

  // Every protocol point of a run (LIST, the first, middle and last TOP,
  // RETR and DELE, QUIT before its answer), each cut by FIN and by reset,
  // and stalls at some of them, as a clean run of it shows them.
  std::vector<TFault> ProtocolPoints(TSweepRun run);
  // `count` byte offsets spread over a clean session, in each direction,
  // FIN and reset alternating.
  std::vector<TFault> ByteOffsets(TSweepRun run, int count);

  TCaseResult RunCase(TSweepRun run, const TFault& fault);
  // `pelorix --home H delete` killed with SIGKILL `after` its start (the
  // deletion run), then checked the same way.
  TCaseResult RunKilledDeletion(const std::string& pelorixBinary, std::chrono::milliseconds after);
  // The deletion run (in-process, no proxy) with its k-th file call (from
  // 1; open, write, sync or rename of the engine's and store's writes)
  // failing with `error`, and with `persist` every call after it too (a
  // disk that stays full). k 0 fails none: the result's Calls counts them.
  TCaseResult RunFileFaultCase(int k, int error, bool persist);

  // How long a clean `pelorix delete` takes here.
  std::chrono::milliseconds CleanDeletionTime(const std::string& pelorixBinary);

  // The client's read time-out in the faulted runs; stalls outlast it.
  static constexpr int kReadTimeoutMs = 1200;

 private:
  struct TSession {
    std::size_t Bytes[2] = {0, 0};
    std::vector<std::pair<std::string, int>> Commands;
  };
  TSession CleanSession(TSweepRun run);
  // Starts Dovecot with the mailbox; the port the client talks to.
  int Serve(TDovecotServer& dovecot) const;
  std::string Name(TSweepRun run) const;

  TSweepProtocol protocol_;
  std::unique_ptr<TTestCertificates> certs_;

  std::vector<std::string> mailbox_;
  std::set<std::string> spam_, ticked_;
};

}  // namespace pelorix::test
