#pragma once
// The deletion run: three workers take the accounts of the deletion queue,
// walk each server's messages, delete those whose list row is ticked, mark
// the rows and write the account's record files back from the list.

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/check_run.h"
#include "engine/run_state.h"
#include "engine/worker_thread.h"

namespace pelorix {

class TSettingsStore;

// How many messages the run deleted, per account key.
class TDeletionTally {
 public:
  void Add(const std::string& accountKey, int deleted);
  std::map<std::string, int> Counts() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::map<std::string, int> counts_;
};

class Tdeletemail {
 public:
  Tdeletemail(int slot, TRunState& state, TFrontEndSink& sink, TDeletionTally& tally);
  virtual ~Tdeletemail();
  Tdeletemail(const Tdeletemail&) = delete;
  Tdeletemail& operator=(const Tdeletemail&) = delete;

  int Slot() const { return slot_; }
  void Start();
  // The worker looks at the request once per message.
  void Terminate() { thread_.Terminate(); }
  void Join() { thread_.Join(); }
  // Runs the worker body on the calling thread (tests).
  void Execute();

 private:
  int slot_;
  TRunState& state_;
  TFrontEndSink& sink_;
  TDeletionTally& tally_;
  TWorkerThread thread_;
};

class Tdeletemail1 : public Tdeletemail {
 public:
  Tdeletemail1(TRunState& s, TFrontEndSink& k, TDeletionTally& t) : Tdeletemail(1, s, k, t) {}
};
class Tdeletemail2 : public Tdeletemail {
 public:
  Tdeletemail2(TRunState& s, TFrontEndSink& k, TDeletionTally& t) : Tdeletemail(2, s, k, t) {}
};
class Tdeletemail3 : public Tdeletemail {
 public:
  Tdeletemail3(TRunState& s, TFrontEndSink& k, TDeletionTally& t) : Tdeletemail(3, s, k, t) {}
};

struct TDeletionFinished {
  bool Acted = false;  // false: not the last worker of a deletion run
  bool AllRecordSaved = false;
  std::map<std::string, int> DeletedPerAccount;
};

// Drives deletion runs on the run state a check engine shares.
class TDeleteEngine {
 public:
  TDeleteEngine(TRunState& state, TSettingsStore& store, TFrontEndSink& sink);
  ~TDeleteEngine();
  TDeleteEngine(const TDeleteEngine&) = delete;
  TDeleteEngine& operator=(const TDeleteEngine&) = delete;

  // "清除": refused (Busy, nothing shown) while any run is busy or a
  // deletion queue exists; NoAccount when the selection matches no account.
  TStartResult StartDeletion(std::string_view selection = kAllMailboxes);
  void Stop();
  void WaitForWorkers();
  // The deletion-finished handler: call it after each WorkerEnded; it acts
  // only for the last worker of a deletion run and saves tmp/all.rec.
  TDeletionFinished DeletionFinished();

 private:
  TRunState& state_;
  TSettingsStore& store_;
  TFrontEndSink& sink_;
  TDeletionTally tally_;
  std::vector<std::unique_ptr<Tdeletemail>> workers_;
};

}  // namespace pelorix
