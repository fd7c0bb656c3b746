#pragma once
// Jobs run one after another, in the order given, on a thread of their own.
// A check worker hands each message's files and row to it: writing ten
// thousand small files costs about as much as fetching and judging the
// messages, and on two cores the two overlap.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace pelorix {

class TOrderedJobs {
 public:
  // The queue holds at most maxJobs jobs weighing maxBytes together (a
  // heavier job is let in alone), so a slow disk holds the worker back
  // rather than its memory growing.
  explicit TOrderedJobs(std::size_t maxJobs = 1024, std::size_t maxBytes = 32u << 20);
  // Runs every job still queued, then ends the thread.
  ~TOrderedJobs();
  TOrderedJobs(const TOrderedJobs&) = delete;
  TOrderedJobs& operator=(const TOrderedJobs&) = delete;

  // Queues `job`, waiting while the queue is full. A job that throws skips
  // its own rest only; the exception is raised again here or by Wait, once.
  void Post(std::function<void()> job, std::size_t bytes);
  // Waits until every job queued so far has run; raises as Post does.
  void Wait();

 private:
  struct TJob {
    std::function<void()> Run;
    std::size_t Bytes = 0;
  };
  void Loop();
  void RaiseFailure(std::unique_lock<std::mutex>& lock);

  const std::size_t maxJobs_;
  const std::size_t maxBytes_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TJob> queue_;
  std::size_t queuedBytes_ = 0;
  bool running_ = false;  // a job taken from the queue is running
  bool closing_ = false;
  std::exception_ptr failure_;
  std::thread thread_;
};

}  // namespace pelorix
