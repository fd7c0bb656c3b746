#pragma once
// How workers reach the front end. Every call blocks the calling thread
// until the front end has handled it (or queued it, in order). A check
// worker's rows come from its writer thread, in message order, once the
// message's files are written: a row may follow texts about later messages.
// The GUI implements it with a blocking call onto its own thread; the
// command line prints.

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/mail_list.h"

namespace pelorix {

// The status bar panels and, when the line is new to the event log, the
// line to append (empty otherwise).
struct TStatusTexts {
  std::string Accounts;    // panel 1: "邮箱：" n "个"
  std::string Mails;       // panel 2: "邮件：" n "封"
  std::string Space;       // panel 3: "占用空间：" n "KB"
  std::string State;       // panel 5: the worker message
  std::string NewLogLine;  // date time ": " message, or empty when logged before
};

struct TMailboxCounters {
  std::string AccountKey;
  int MessageCount = 0;
  int SpamCount = 0;
  int DeletedCount = 0;
};

class TFrontEndSink {
 public:
  virtual ~TFrontEndSink() = default;
  virtual void StatusRefresh(const TStatusTexts& texts) = 0;
  // The row has been appended to the mail list at `index`. Calls may come
  // from several threads at once.
  virtual void MailRowAdded(std::size_t index, const TMailRow& row) = 0;
  virtual void MailboxCountersUpdate(const TMailboxCounters& counters) = 0;
  // A Yes/No question; true for Yes.
  virtual bool AskYesNo(const std::string& caption, const std::string& text) = 0;
  // A worker of the current run has ended (called on the worker's thread
  // just before it returns). The front end then runs the finished handler
  // on its own thread. Unlike the calls above this one must not wait for
  // the handler: the handler joins the worker threads.
  virtual void WorkerEnded() {}
};

// The event log: lines in order, a line equal to one already logged is not
// added again (checked in O(1) with a hash set).
class TEventLog {
 public:
  // Returns true when the line was new and has been appended.
  bool Add(const std::string& line);
  void Clear();
  std::vector<std::string> Lines() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::unordered_set<std::string> seen_;
};

}  // namespace pelorix
