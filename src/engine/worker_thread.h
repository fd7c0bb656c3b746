#pragma once
// A worker's own thread and its terminate request, which the worker looks
// at once per message. Declared as the last member of its owner, so that it
// joins before the rest of the owner goes away.

#include <atomic>
#include <functional>
#include <thread>

namespace pelorix {

class TWorkerThread {
 public:
  TWorkerThread() = default;
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;
  ~TWorkerThread() { Join(); }

  void Start(std::function<void()> body) { thread_ = std::thread(std::move(body)); }
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  const std::atomic<bool>& TerminateRequest() const { return terminated_; }
  bool Joinable() const { return thread_.joinable(); }
  // Waits for the thread; on the worker's own thread it lets it run out.
  void Join() {
    if (!thread_.joinable())
      return;
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
      return;
    }
    thread_.join();
  }

 private:
  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

}  // namespace pelorix
