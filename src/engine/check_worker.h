#pragma once
// The check worker: takes accounts from the check queue, counts and fetches
// their messages, judges each one and leaves the results in the record
// files, the message file of its slot, the per-message files and the mail
// list. Three run at once, one per slot.

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "engine/worker_thread.h"

namespace pelorix {

class TRunState;
class TFrontEndSink;
class TMailboxSession;
class TPop3Session;

// An account entry split into its parts (host "|" user "|" password).
struct TQueueEntry {
  std::string Server, User, Password;
};
TQueueEntry SplitQueueEntry(std::string_view entry);
// Points a worker's session at the account of an entry (port 110, or 995
// for the tls mode, unless the server text names one) with the run's read
// time-out, the account's connection security, its login method and its
// server's pin.
void PrepareSession(TPop3Session& session, const TQueueEntry& entry, const TRunState& state);
// The session for the account of an entry: IMAP (port 143, 993 for the tls
// mode) with its folders and way of deleting when the account is an IMAP
// account, else POP3 as PrepareSession sets it up.
std::unique_ptr<TMailboxSession> MakeMailboxSession(const TQueueEntry& entry,
                                                    const TRunState& state);

class TCheckmail {
 public:
  TCheckmail(int slot, TRunState& state, TFrontEndSink& sink);
  virtual ~TCheckmail();
  TCheckmail(const TCheckmail&) = delete;
  TCheckmail& operator=(const TCheckmail&) = delete;

  int Slot() const { return slot_; }
  // Starts the thread.
  void Start();
  // The worker looks at the request once per message.
  void Terminate() { thread_.Terminate(); }
  bool Terminated() const { return thread_.Terminated(); }
  // Waits for the thread (a no-op on the worker's own thread).
  void Join() { thread_.Join(); }
  bool Joinable() const { return thread_.Joinable(); }

  // Runs the worker body on the calling thread (tests).
  void Execute();

 private:
  void CheckLoop(const std::filesystem::path& messageFile);

  int slot_;
  TRunState& state_;
  TFrontEndSink& sink_;
  TWorkerThread thread_;
};

class TCheckmail1 : public TCheckmail {
 public:
  TCheckmail1(TRunState& state, TFrontEndSink& sink) : TCheckmail(1, state, sink) {}
};
class TCheckmail2 : public TCheckmail {
 public:
  TCheckmail2(TRunState& state, TFrontEndSink& sink) : TCheckmail(2, state, sink) {}
};
class TCheckmail3 : public TCheckmail {
 public:
  TCheckmail3(TRunState& state, TFrontEndSink& sink) : TCheckmail(3, state, sink) {}
};

std::filesystem::path MessageFilePath(const std::filesystem::path& home, int slot);

}  // namespace pelorix
