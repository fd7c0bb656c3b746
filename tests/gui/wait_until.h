#pragma once
// Runs the event loop until a condition holds: window work that finishes
// on another thread reaches the window through queued events.

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <functional>

namespace pelorix::gui {

// False when the condition still fails after 30 seconds.
inline bool WaitUntil(const std::function<bool()>& done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

}  // namespace pelorix::gui
