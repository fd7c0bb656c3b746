#pragma once
// A front end for tests: records everything the workers hand over.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/sink.h"

namespace pelorix::test {

class TRecordingSink : public TFrontEndSink {
 public:
  void StatusRefresh(const TStatusTexts& texts) override {
    std::function<void(const std::string&)> hook;
    {
      std::lock_guard lock(mutex_);
      States.push_back(texts.State);
      if (!texts.NewLogLine.empty())
        LogLines.push_back(texts.NewLogLine);
      Panels = texts;
      hook = OnState;
    }
    if (hook)
      hook(texts.State);
  }
  void MailRowAdded(std::size_t index, const TMailRow& row) override {
    std::function<void(std::size_t)> hook;
    {
      std::lock_guard lock(mutex_);
      Rows.push_back(row);
      hook = OnRow;
    }
    if (hook)
      hook(index);
  }
  void MailboxCountersUpdate(const TMailboxCounters& c) override {
    std::lock_guard lock(mutex_);
    Counters.push_back(c);
  }
  bool AskYesNo(const std::string& caption, const std::string& text) override {
    std::lock_guard lock(mutex_);
    Questions.push_back(caption + "|" + text);
    return Answer;
  }
  void WorkerEnded() override {
    std::lock_guard lock(mutex_);
    ++Ended;
  }

  bool Said(const std::string& state) {
    std::lock_guard lock(mutex_);
    for (const auto& s : States) {
      if (s == state)
        return true;
    }
    return false;
  }

  std::mutex mutex_;
  std::vector<std::string> States, LogLines, Questions;
  std::vector<TMailRow> Rows;
  std::vector<TMailboxCounters> Counters;
  TStatusTexts Panels;
  bool Answer = false;
  int Ended = 0;
  std::function<void(std::size_t)> OnRow;
  // Called on the worker's own thread (rows come from its writer thread):
  // a stop asked here is seen before the worker reads the next message.
  std::function<void(const std::string&)> OnState;
};

}  // namespace pelorix::test
