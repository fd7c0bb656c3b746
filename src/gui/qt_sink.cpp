#include "gui/qt_sink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace pelorix::gui {

TQtSink::TQtSink(QObject* receiver, TSinkTarget& target) : receiver_(receiver), target_(target) {}

TQtSink::~TQtSink() {
  Detach();
}

bool TQtSink::Run(const std::function<void()>& fn) {
  {
    std::lock_guard lock(mutex_);
    if (detached_ || !receiver_)
      return false;
    ++inFlight_;
  }
  if (QThread::currentThread() == receiver_->thread()) {
    fn();
  } else {
    // Blocks this worker until the GUI thread has run fn. Detach keeps the
    // GUI thread's events flowing until inFlight_ is 0, so this cannot hang.
    QMetaObject::invokeMethod(receiver_, fn, Qt::BlockingQueuedConnection);
  }
  std::lock_guard lock(mutex_);
  --inFlight_;
  return true;
}

void TQtSink::Queue(std::optional<TStatusTexts> status, std::size_t row) {
  bool guiThread = false, post = false;
  {
    std::lock_guard lock(mutex_);
    if (detached_ || !receiver_)
      return;
    guiThread = QThread::currentThread() == receiver_->thread();
    queued_.push_back({std::move(status), row});
    post = !guiThread && !batchPosted_;
    if (post) {
      batchPosted_ = true;
      ++inFlight_;
    }
  }
  if (guiThread)
    Deliver();  // at once, behind what was queued before
  else if (post)
    QMetaObject::invokeMethod(
        receiver_, [this] { Deliver(); }, Qt::QueuedConnection);
}

void TQtSink::Deliver() {
  std::vector<TQueued> batch;
  bool posted = false;
  {
    std::lock_guard lock(mutex_);
    batch.swap(queued_);
    posted = batchPosted_;
    batchPosted_ = false;
  }
  for (const TQueued& q : batch) {
    if (q.Status)
      target_.OnStatus(*q.Status);
    else
      target_.OnRowAdded(q.Row);
  }
  if (!batch.empty())
    target_.OnBatchEnd();
  if (posted) {
    std::lock_guard lock(mutex_);
    --inFlight_;
  }
}

void TQtSink::StatusRefresh(const TStatusTexts& texts) {
  Queue(texts, 0);
}

void TQtSink::MailRowAdded(std::size_t index, const TMailRow&) {
  // The row lives in the engine's list already; the view only needs to know.
  Queue(std::nullopt, index);
}

void TQtSink::MailboxCountersUpdate(const TMailboxCounters& counters) {
  Run([&] { target_.OnCounters(counters); });
}

bool TQtSink::AskYesNo(const std::string& caption, const std::string& text) {
  bool yes = false;
  Run([&] { yes = target_.OnQuestion(caption, text); });
  return yes;
}

void TQtSink::WorkerEnded() {
  std::lock_guard lock(mutex_);
  if (detached_ || !receiver_)
    return;
  TSinkTarget* target = &target_;
  QMetaObject::invokeMethod(
      receiver_, [target] { target->OnWorkerEnded(); }, Qt::QueuedConnection);
}

void TQtSink::Detach(bool wait) {
  {
    std::lock_guard lock(mutex_);
    detached_ = true;
  }
  if (!wait)
    return;
  // Calls already posted need the GUI thread to run them. Bounded, for a
  // Detach from inside a handled call (that call is in flight itself); a
  // call still queued when its receiver goes away is released by Qt.
  const QDeadlineTimer deadline(5000);
  while (!deadline.hasExpired()) {
    {
      std::lock_guard lock(mutex_);
      if (inFlight_ == 0)
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::yieldCurrentThread();
  }
}

bool TQtSink::Detached() const {
  std::lock_guard lock(mutex_);
  return detached_;
}

}  // namespace pelorix::gui
