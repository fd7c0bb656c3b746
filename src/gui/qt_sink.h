#pragma once
// The engine's front-end sink for the window: every call from a worker runs
// on the GUI thread, in order, and widgets are only touched by their own
// thread. Status texts and new rows are queued without waiting and handed
// over in batches, one event per batch: a worker that waited for the window
// at every message would pay a thread switch and a repaint per message.
// Counters and questions wait for the window (a blocking queued call), after
// what was queued before them. WorkerEnded is posted without waiting too,
// because the finished handler joins the worker threads.

#include <QObject>
#include <QPointer>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/sink.h"

namespace pelorix::gui {

// What the window does with each call, on the GUI thread.
class TSinkTarget {
 public:
  virtual ~TSinkTarget() = default;
  virtual void OnStatus(const TStatusTexts& texts) = 0;
  virtual void OnRowAdded(std::size_t index) = 0;
  // After the statuses and rows handed over together: what a target
  // gathered from them can be shown at once, instead of once per call.
  virtual void OnBatchEnd() {}
  virtual void OnCounters(const TMailboxCounters& counters) = 0;
  virtual bool OnQuestion(const std::string& caption, const std::string& text) = 0;
  virtual void OnWorkerEnded() = 0;
};

class TQtSink final : public TFrontEndSink {
 public:
  // receiver lives on the GUI thread; target is called there.
  TQtSink(QObject* receiver, TSinkTarget& target);
  ~TQtSink() override;

  void StatusRefresh(const TStatusTexts& texts) override;
  void MailRowAdded(std::size_t index, const TMailRow& row) override;
  void MailboxCountersUpdate(const TMailboxCounters& counters) override;
  bool AskYesNo(const std::string& caption, const std::string& text) override;
  void WorkerEnded() override;

  // From now on worker calls return at once without reaching the window
  // (questions answer No); calls already on their way are still delivered.
  // GUI thread only: with wait, returns after every call in flight has
  // been handled (bounded; not from inside a handled call).
  void Detach(bool wait = true);
  bool Detached() const;

 private:
  // Runs fn on the GUI thread and waits; false when detached.
  bool Run(const std::function<void()>& fn);
  // A status (or, without one, a row) for the next batch, posting the
  // batch's event when none is on its way; direct on the GUI thread.
  void Queue(std::optional<TStatusTexts> status, std::size_t row);
  // GUI thread: hands the queued calls to the target in their order.
  void Deliver();

  struct TQueued {
    std::optional<TStatusTexts> Status;
    std::size_t Row = 0;
  };
  std::vector<TQueued> queued_;
  bool batchPosted_ = false;

  QPointer<QObject> receiver_;
  TSinkTarget& target_;
  mutable std::mutex mutex_;
  bool detached_ = false;
  int inFlight_ = 0;
};

}  // namespace pelorix::gui
