// The window's sink: calls from a worker thread reach the target on the GUI
// thread in the worker's order, whether queued (status, rows) or waited for
// (counters, questions), and nothing reaches it once detached.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "gui/qt_sink.h"

namespace pelorix::gui {
namespace {

class TRecordingTarget final : public TSinkTarget {
 public:
  void OnStatus(const TStatusTexts& t) override { Calls.push_back("status " + t.State); }
  void OnRowAdded(std::size_t index) override { Calls.push_back("row " + std::to_string(index)); }
  void OnCounters(const TMailboxCounters& c) override {
    Calls.push_back("counters " + c.AccountKey);
  }
  bool OnQuestion(const std::string&, const std::string& text) override {
    Calls.push_back("question " + text);
    return true;
  }
  void OnWorkerEnded() override {
    Calls.push_back("ended");
    Ended = true;
  }
  std::vector<std::string> Calls;
  bool Ended = false;
};

TEST(QtSink, WorkerCallsArriveInOrderAndBeforeWhatWaits) {
  QObject receiver;
  TRecordingTarget target;
  TQtSink sink(&receiver, target);
  std::vector<std::string> sent;
  std::atomic<bool> answer{false};
  std::thread worker([&] {
    for (int i = 0; i < 300; ++i) {
      TStatusTexts t;
      t.State = std::to_string(i);
      sink.StatusRefresh(t);
      sent.push_back("status " + t.State);
      sink.MailRowAdded(static_cast<std::size_t>(i), {});
      sent.push_back("row " + std::to_string(i));
      if (i == 100) {
        sink.MailboxCountersUpdate({"bob[pop]", 1, 0, 0});
        sent.push_back("counters bob[pop]");
      }
    }
    answer = sink.AskYesNo("caption", "sure?");
    sent.push_back("question sure?");
    sink.WorkerEnded();
    sent.push_back("ended");
  });
  // The question waits for this thread: serve events until the end is in.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!target.Ended && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(target.Ended);
  worker.join();
  EXPECT_TRUE(answer);
  EXPECT_EQ(target.Calls, sent);

  sink.Detach();
  std::thread late([&] {
    sink.StatusRefresh({});
    sink.MailRowAdded(0, {});
    EXPECT_FALSE(sink.AskYesNo("caption", "late?"));
  });
  late.join();
  QCoreApplication::processEvents();
  EXPECT_EQ(target.Calls, sent);
}

}  // namespace
}  // namespace pelorix::gui
