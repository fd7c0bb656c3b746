#include "engine/ordered_jobs.h"

#include <utility>

namespace pelorix {

TOrderedJobs::TOrderedJobs(std::size_t maxJobs, std::size_t maxBytes)
    : maxJobs_(maxJobs > 0 ? maxJobs : 1), maxBytes_(maxBytes), thread_([this] { Loop(); }) {}

TOrderedJobs::~TOrderedJobs() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TOrderedJobs::RaiseFailure(std::unique_lock<std::mutex>& lock) {
  if (!failure_)
    return;
  std::exception_ptr failure = std::exchange(failure_, nullptr);
  lock.unlock();
  std::rethrow_exception(failure);
}

void TOrderedJobs::Post(std::function<void()> job, std::size_t bytes) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] {
    return queue_.empty() || (queue_.size() < maxJobs_ && queuedBytes_ + bytes <= maxBytes_);
  });
  queue_.push_back({std::move(job), bytes});
  queuedBytes_ += bytes;
  // The job is queued whatever is raised below: the thread must know.
  changed_.notify_all();
  RaiseFailure(lock);
}

void TOrderedJobs::Wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return queue_.empty() && !running_; });
  RaiseFailure(lock);
}

void TOrderedJobs::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return !queue_.empty() || closing_; });
    if (queue_.empty())
      return;
    TJob job = std::move(queue_.front());
    queue_.pop_front();
    queuedBytes_ -= job.Bytes;
    running_ = true;
    lock.unlock();
    changed_.notify_all();
    try {
      job.Run();
    } catch (...) {
      lock.lock();
      if (!failure_)
        failure_ = std::current_exception();
      lock.unlock();
    }
    job.Run = nullptr;  // what it holds goes before the next one is taken
    lock.lock();
    running_ = false;
    changed_.notify_all();
  }
}

}  // namespace pelorix
