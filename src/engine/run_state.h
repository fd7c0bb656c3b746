#pragma once
// Everything a check or deletion run shares between its workers and the
// front end, in one object: counters, queues and their lock, the worker
// message, the check settings, the mail list and the event log.

#include <array>
#include <atomic>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "classify/classifier.h"
#include "engine/mail_list.h"
#include "engine/old_files.h"
#include "engine/sink.h"
#include "store/connection_security.h"
#include "store/mail_plan.h"

namespace pelorix {

using TAccountQueue = std::deque<std::string>;  // host "|" user "|" password

class TRunState {
 public:
  explicit TRunState(std::filesystem::path home) : home_(std::move(home)) {}
  TRunState(const TRunState&) = delete;
  TRunState& operator=(const TRunState&) = delete;

  const std::filesystem::path& Home() const { return home_; }

  std::atomic<bool> Busy{false};
  std::atomic<int> RunningWorkers{0};
  std::atomic<bool> QueueDrained{false};
  std::atomic<long long> NewMailCount{0};
  std::atomic<long long> MailboxSizeKb{0};
  std::atomic<int> AccountCount{0};
  std::atomic<int> WholeMessage{0};  // 1: content check, 0: header check

  // Guards CheckQueue and DeleteQueue (one lock for both, as the workers
  // of both kinds share it).
  std::mutex QueueLock;
  std::optional<TAccountQueue> CheckQueue;
  std::optional<TAccountQueue> DeleteQueue;
  // Takes the first entry of a queue under the queue lock.
  std::optional<std::string> TakeEntry(std::optional<TAccountQueue>& queue);
  bool QueueEmpty(const std::optional<TAccountQueue>& queue);

  std::array<std::mutex, 3> SlotLocks;
  std::mutex CheckRowLock;  // check workers append rows under it
  std::mutex MailListLock;  // deletion workers search and mark under it
  std::mutex CountersLock;  // the mailbox counters update

  TMailList MailList;
  TEventLog EventLog;
  // The former run's files, reused for this run's per-message files.
  TOldFilePool OldFiles;

  void SetWorkerMessage(std::string text);
  std::string WorkerMessage() const;

  // The check settings; workers read a copy each time they use them.
  TMailPlan Plan() const;
  void SetPlan(const TMailPlan& plan);

  // Connection security of the accounts and the pinned certificates, read
  // from the store when a run starts.
  TConnectionPolicy Policy() const;
  void SetPolicy(TConnectionPolicy policy);
  // A secret a worker could not get for an account (its OAuth token
  // refresh refused), added to the policy's SecretProblems.
  void AddSecretProblem(std::string accountKey, std::string problem);

  // Where the workers take OAuth accounts' access tokens from, refreshing
  // them themselves so a slow token endpoint holds up only its account;
  // set by the engine. Without one the queue's passwords are used as they are.
  TSettingsStore* Store = nullptr;

  // The learning judge of this run, read when it starts (read only while
  // the workers run).
  std::shared_ptr<const TClassifier> Judge;

  // Session read time-out in milliseconds for the workers' POP3 sessions
  // (0: the protocol layer's default).
  std::atomic<int> ReadTimeoutMs{0};

  // Composes the status bar texts and the event-log line for the current
  // worker message and hands them to the sink (which blocks).
  void RefreshStatus(TFrontEndSink& sink);
  // Sets the worker message and refreshes in one step, so that a message
  // of one worker is never overwritten by another's before it is shown.
  void Say(TFrontEndSink& sink, std::string message);

 private:
  std::filesystem::path home_;
  mutable std::mutex messageMutex_;
  std::string workerMessage_;
  mutable std::mutex planMutex_;
  TMailPlan plan_;
  TConnectionPolicy policy_;
  std::mutex statusMutex_;
  void RefreshLocked(TFrontEndSink& sink);
};

// Date and time as the program shows them ("2026-12-08 17:03:09", local
// time); the time is left out when it is exactly midnight and omitMidnight
// is set. 0 gives an empty text.
std::string LocalDateTimeText(std::time_t when, bool omitMidnight = false);

}  // namespace pelorix
