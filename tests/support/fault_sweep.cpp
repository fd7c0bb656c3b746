#include "support/fault_sweep.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "engine/check_run.h"
#include "engine/delete_worker.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "store/account_imap.h"
#include "store/accounts.h"
#include "store/connection_security.h"
#include "store/file_fault.h"
#include "store/filter_lists.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"
#include "support/dovecot.h"
#include "support/invariant.h"
#include "support/process.h"
#include "support/tls_certs.h"

namespace pelorix::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

class TLogSink : public TFrontEndSink {
 public:
  void StatusRefresh(const TStatusTexts& texts) override {
    if (texts.NewLogLine.empty())
      return;
    std::lock_guard lock(mutex_);
    lines_.push_back(texts.NewLogLine);
  }
  void MailRowAdded(std::size_t, const TMailRow&) override {}
  void MailboxCountersUpdate(const TMailboxCounters&) override {}
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  std::vector<std::string> Lines() {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

std::string Message(int i, bool spam) {
  const std::string n = std::to_string(i);
  std::string m = "Received: from mx" + n + ".example ([61.135.2." + std::to_string(i % 250) +
                  "]) by pop.example.org\nFrom: " +
                  (spam ? "offer" + n + "@bad.example" : "friend" + n + "@example.org") +
                  "\nTo: bob@example.org\nSubject: letter " + n + "\nMessage-ID: <sweep" + n +
                  "@example.org>\nDate: Tue, 08 Dec 2026 10:00:00 +0000\n\n";
  m += "body of letter " + n + "\n";
  // Lines the wire stuffs, a long one, and some weight, so that copies and
  // byte offsets have something to get wrong.
  if (i % 7 == 0)
    m += ".a line that starts with a dot\n..and two\n.\nafter a lone dot\n";
  if (i % 11 == 0)
    m += std::string(3000, 'x') + "\n";
  for (int line = 0; line < i % 13; ++line)
    m += "filler line " + std::to_string(line) + " of letter " + n + "\n";
  if (i % 9 == 0) {
    std::string crlf;
    for (char c : m)
      crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    m = crlf;
  }
  return m;
}

std::unique_ptr<TSettingsStore> SetUpHome(const fs::path& home, const std::string& hostPort,
                                          bool deleteRubbish, TSweepProtocol protocol) {
  auto store = TSettingsStore::Open(home);
  if (!store)
    return nullptr;
  SaveAccounts(*store, {{hostPort, "bob", "pw", ""}});
  // Deleted on IMAP means moved to Junk: gone from INBOX all the same.
  const std::string key = "bob[" + hostPort + "]";
  if (protocol == TSweepProtocol::Imap)
    WriteImapSettings(*store, key, TImapAccountSettings{});
  WriteAccountSecurity(*store, key, protocol == TSweepProtocol::Pop3Tls ? "tls" : "none");
  TMailPlan plan;
  plan.Load(*store);
  plan.CheckSummary = true;
  plan.DeleteRubbish = deleteRubbish;
  plan.Quarantine = true;
  plan.AutoJudge = false;
  plan.Save(*store);
  TFilterLists lists;
  lists.Sender = {"bad.example"};
  SaveFilterLists(*store, lists);
  return store;
}

struct TRunOutcome {
  std::vector<std::string> Lines;
  bool Saved = false;
};

TRunOutcome RunCheck(const fs::path& home, TSettingsStore& store) {
  TTmpSweep sweep = PrepareTmpFolder(home);
  TLogSink sink;
  TCheckEngine engine(home, store, sink);
  engine.LoadPlan();
  engine.State().ReadTimeoutMs = TFaultSweep::kReadTimeoutMs;
  if (engine.StartHeaderCheck() != TStartResult::Started)
    return {{"the check did not start"}, false};
  engine.WaitForWorkers();
  const TCheckFinished finished = engine.CheckFinished();
  return {sink.Lines(), finished.AllRecordSaved};
}

TRunOutcome RunDeletion(const fs::path& home, TSettingsStore& store) {
  TLogSink sink;
  TCheckEngine engine(home, store, sink);
  engine.LoadPlan();
  engine.State().ReadTimeoutMs = TFaultSweep::kReadTimeoutMs;
  if (!engine.MailList().LoadRecordFile(AllRecordPath(home), true))
    return {{"no all.rec to work on"}, false};
  EnsureDeletedFolder(home);
  TDeleteEngine deleter(engine.State(), store, sink);
  if (deleter.StartDeletion() != TStartResult::Started)
    return {{"the deletion did not start"}, false};
  deleter.WaitForWorkers();
  const TDeletionFinished finished = deleter.DeletionFinished();
  return {sink.Lines(), finished.AllRecordSaved};
}

bool Tick(const fs::path& home, const std::set<std::string>& keys) {
  auto records = ReadRecordFile(AllRecordPath(home));
  if (!records || records->empty())
    return false;
  for (auto& r : *records)
    r.VerdictMark = keys.contains(r.MessageKey) ? "Yes" : "";
  return WriteRecordFile(AllRecordPath(home), *records);
}

std::string Failed(const std::vector<std::string>& lines) {
  for (const auto& l : lines) {
    if (l.find("失败") != std::string::npos)
      return l;
  }
  return {};
}

// The next normal check completes, keeps the invariants and lists exactly
// what the server holds.
void CheckNextRun(const TDovecotServer& dovecot, const fs::path& home, TSettingsStore& store,
                  const std::set<std::string>& allowed, std::vector<std::string>& broken) {
  const TMailboxSnapshot before = SnapshotMailbox(dovecot, "bob");
  const TRunOutcome next = RunCheck(home, store);
  if (const std::string why = Failed(next.Lines); !why.empty())
    broken.push_back("the next check failed: " + why);
  if (!next.Saved)
    broken.push_back("the next check did not save all.rec");
  const TMailboxSnapshot after = SnapshotMailbox(dovecot, "bob");
  for (auto& b : BrokenInvariants(before, after, home, allowed))
    broken.push_back("next check: " + b);
  std::multiset<std::string> listed, held;
  if (auto records = ReadRecordFile(AllRecordPath(home))) {
    for (const auto& r : *records) {
      if (r.DeletionMark != "Deleted")
        listed.insert(r.MessageKey);
    }
  }
  for (const auto& m : after.Messages)
    held.insert(MessageIdOf(m));
  if (listed != held) {
    broken.push_back("after the next check the list shows " + std::to_string(listed.size()) +
                     " messages as on the server, which holds " + std::to_string(held.size()));
  }
}

}  // namespace

std::string RunName(TSweepRun run) {
  return run == TSweepRun::Deletion ? "deletion" : "check with DeleteRubbish";
}

int TFaultSweep::Serve(TDovecotServer& dovecot) const {
  dovecot.AddUser("bob", "pw", mailbox_);
  if (protocol_ == TSweepProtocol::Imap)
    dovecot.EnableImap();
  if (certs_)
    dovecot.EnableTls(certs_->Good().Cert, certs_->Good().Key);
  dovecot.Start();
  return protocol_ == TSweepProtocol::Imap      ? dovecot.ImapPort()
         : protocol_ == TSweepProtocol::Pop3Tls ? dovecot.TlsPort()
                                                : dovecot.Port();
}

std::string TFaultSweep::Name(TSweepRun run) const {
  return (protocol_ == TSweepProtocol::Imap      ? "IMAP "
          : protocol_ == TSweepProtocol::Pop3Tls ? "POP3 over TLS "
                                                 : "POP3 ") +
         RunName(run);
}

void TSweepCounts::Add(const TCaseResult& r) {
  ++Injected;
  if (!r.Fired)
    ++NotReached;
  if (r.Broken.empty()) {
    ++Held;
    return;
  }
  ++Broken;
  std::string text = r.Name + ":";
  for (const auto& b : r.Broken)
    text += "\n    " + b;
  Failures.push_back(text);
}

TFaultSweep::~TFaultSweep() = default;

TFaultSweep::TFaultSweep(int messages, TSweepProtocol protocol) : protocol_(protocol) {
  if (protocol == TSweepProtocol::Pop3Tls) {
    certs_ = std::make_unique<TTestCertificates>();
    certs_->TrustCa();
  }
  for (int i = 1; i <= messages; ++i) {
    const bool spam = i % 5 == 2;
    mailbox_.push_back(Message(i, spam));
    const std::string key = "<sweep" + std::to_string(i) + "@example.org>";
    if (spam)
      spam_.insert(key);
    if (i % 3 == 0)
      ticked_.insert(key);
  }
}

std::set<std::string> TFaultSweep::Allowed(TSweepRun run) const {
  return run == TSweepRun::Deletion ? ticked_ : spam_;
}

TFaultSweep::TSession TFaultSweep::CleanSession(TSweepRun run) {
  TSession s;
  TDovecotServer dovecot;
  TFaultProxy proxy(Serve(dovecot));
  TTempFolder home("pelorix-sweep");
  auto store =
      SetUpHome(home.Path(), proxy.HostPort(), run == TSweepRun::CheckDeleteRubbish, protocol_);
  if (run == TSweepRun::Deletion) {
    RunCheck(home.Path(), *store);
    Tick(home.Path(), ticked_);
  }
  proxy.Arm({});
  if (run == TSweepRun::Deletion)
    RunDeletion(home.Path(), *store);
  else
    RunCheck(home.Path(), *store);
  s.Bytes[0] = proxy.Bytes(TFlow::ToServer);
  s.Bytes[1] = proxy.Bytes(TFlow::ToClient);
  const auto commands =
      protocol_ == TSweepProtocol::Imap
          ? std::vector<std::string>{"FETCH", "STORE", "EXPUNGE", "MOVE", "LOGOUT"}
          : std::vector<std::string>{"LIST", "TOP", "RETR", "DELE", "QUIT"};
  for (const auto& command : commands)
    s.Commands.emplace_back(command, proxy.CommandCount(command));
  return s;
}

std::vector<TFault> TFaultSweep::ProtocolPoints(TSweepRun run) {
  std::vector<TFault> points;
  if (protocol_ == TSweepProtocol::Pop3Tls)
    return points;
  for (const auto& [command, count] : CleanSession(run).Commands) {
    if (count == 0)
      continue;
    std::vector<int> ns = {1, (count + 1) / 2, count};
    ns.erase(std::unique(ns.begin(), ns.end()), ns.end());
    for (const int n : ns) {
      for (const auto how : {TFault::TBreak::Fin, TFault::TBreak::Reset})
        points.push_back(TFault::AfterCommand(command, n, how));
    }
    TFault stall = TFault::AfterCommand(command, (count + 1) / 2, TFault::TBreak::Stall);
    stall.StallTime = milliseconds(2 * kReadTimeoutMs);
    points.push_back(stall);
  }
  return points;
}

std::vector<TFault> TFaultSweep::ByteOffsets(TSweepRun run, int count) {
  const TSession s = CleanSession(run);
  std::vector<TFault> faults;
  for (const TFlow flow : {TFlow::ToServer, TFlow::ToClient}) {
    const std::size_t total = s.Bytes[flow == TFlow::ToServer ? 0 : 1];
    for (int i = 0; i < count; ++i) {
      const std::size_t at =
          total * static_cast<std::size_t>(2 * i + 1) / static_cast<std::size_t>(2 * count);
      faults.push_back(
          TFault::AtByte(flow, at, i % 2 == 0 ? TFault::TBreak::Fin : TFault::TBreak::Reset));
    }
  }
  return faults;
}

TCaseResult TFaultSweep::RunCase(TSweepRun run, const TFault& fault) {
  TCaseResult r;
  r.Name = Name(run) + ", " + fault.Describe();
  TDovecotServer dovecot;
  TFaultProxy proxy(Serve(dovecot));
  TTempFolder home("pelorix-sweep");
  auto store =
      SetUpHome(home.Path(), proxy.HostPort(), run == TSweepRun::CheckDeleteRubbish, protocol_);
  if (!store) {
    r.Broken.push_back("the home could not be set up");
    return r;
  }
  if (run == TSweepRun::Deletion) {
    const TRunOutcome clean = RunCheck(home.Path(), *store);
    if (!Failed(clean.Lines).empty() || !Tick(home.Path(), ticked_)) {
      r.Broken.push_back("the clean check before the deletion failed");
      return r;
    }
  }
  const TMailboxSnapshot before{dovecot.Messages("bob")};
  proxy.Arm(fault);
  if (run == TSweepRun::Deletion)
    RunDeletion(home.Path(), *store);
  else
    RunCheck(home.Path(), *store);
  r.Fired = proxy.Fired();
  proxy.Arm({});
  r.Broken = BrokenInvariants(dovecot, "bob", before, home.Path(), Allowed(run));
  CheckNextRun(dovecot, home.Path(), *store,
               run == TSweepRun::Deletion ? std::set<std::string>{} : spam_, r.Broken);
  return r;
}

TCaseResult TFaultSweep::RunFileFaultCase(int k, int error, bool persist) {
  TCaseResult r;
  r.Name = Name(TSweepRun::Deletion) + ", file call #" + std::to_string(k) + " fails with " +
           strerrorname_np(error) + (persist ? " and every later one" : "");
  TDovecotServer dovecot;
  TTempFolder home("pelorix-sweep");
  auto store =
      SetUpHome(home.Path(), "127.0.0.1:" + std::to_string(Serve(dovecot)), false, protocol_);
  if (!store || !Failed(RunCheck(home.Path(), *store).Lines).empty() ||
      !Tick(home.Path(), ticked_)) {
    r.Broken.push_back("the clean check before the deletion failed");
    return r;
  }
  const TMailboxSnapshot before{dovecot.Messages("bob")};
  auto calls = std::make_shared<std::atomic<int>>(0);
  auto failed = std::make_shared<std::atomic<bool>>(false);
  SetFileFault([=](FileOp, const fs::path&) {
    const int n = ++*calls;
    if (k > 0 && (n == k || (persist && n > k))) {
      *failed = true;
      return error;
    }
    return 0;
  });
  RunDeletion(home.Path(), *store);
  SetFileFault({});
  r.Fired = *failed;
  r.Calls = *calls;
  r.Broken = BrokenInvariants(dovecot, "bob", before, home.Path(), ticked_);
  CheckNextRun(dovecot, home.Path(), *store, {}, r.Broken);
  return r;
}

std::chrono::milliseconds TFaultSweep::CleanDeletionTime(const std::string& pelorixBinary) {
  TDovecotServer dovecot;
  dovecot.AddUser("bob", "pw", mailbox_);
  dovecot.Start();
  TTempFolder home("pelorix-sweep");
  auto store = SetUpHome(home.Path(), dovecot.HostPort(), false, TSweepProtocol::Pop3);
  RunCheck(home.Path(), *store);
  Tick(home.Path(), ticked_);
  store.reset();
  TChildProcess child;
  const auto start = std::chrono::steady_clock::now();
  child.Start({pelorixBinary, "--home", home.Path(), "delete"}, home.Path() + "/delete.log");
  child.Wait();
  return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
}

TCaseResult TFaultSweep::RunKilledDeletion(const std::string& pelorixBinary, milliseconds after) {
  TCaseResult r;
  r.Name = "pelorix delete killed after " + std::to_string(after.count()) + " ms";
  TDovecotServer dovecot;
  dovecot.AddUser("bob", "pw", mailbox_);
  dovecot.Start();
  TTempFolder home("pelorix-sweep");
  auto store = SetUpHome(home.Path(), dovecot.HostPort(), false, TSweepProtocol::Pop3);
  if (!store || !Failed(RunCheck(home.Path(), *store).Lines).empty() ||
      !Tick(home.Path(), ticked_)) {
    r.Broken.push_back("the clean check before the deletion failed");
    return r;
  }
  const TMailboxSnapshot before{dovecot.Messages("bob")};
  // The command opens the store itself; ours is closed meanwhile.
  store.reset();
  TChildProcess child;
  child.Start({pelorixBinary, "--home", home.Path(), "delete"}, home.Path() + "/delete.log");
  std::this_thread::sleep_for(after);
  // Running() reaps a child that has ended and forgets its id: only a
  // live one, by its own id, is killed.
  r.Fired = child.Running();
  if (const int pid = child.Pid(); r.Fired && pid > 0)
    ::kill(pid, SIGKILL);
  child.Wait();
  r.Broken = BrokenInvariants(dovecot, "bob", before, home.Path(), ticked_);
  store = TSettingsStore::Open(home.Path());
  if (!store) {
    r.Broken.push_back("registry.db does not open after the kill");
    return r;
  }
  CheckNextRun(dovecot, home.Path(), *store, {}, r.Broken);
  return r;
}

}  // namespace pelorix::test
