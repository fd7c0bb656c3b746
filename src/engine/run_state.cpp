#include "engine/run_state.h"

#include <ctime>

namespace pelorix {

std::optional<std::string> TRunState::TakeEntry(std::optional<TAccountQueue>& queue) {
  std::lock_guard lock(QueueLock);
  if (!queue || queue->empty())
    return std::nullopt;
  std::string entry = std::move(queue->front());
  queue->pop_front();
  return entry;
}

bool TRunState::QueueEmpty(const std::optional<TAccountQueue>& queue) {
  std::lock_guard lock(QueueLock);
  return !queue || queue->empty();
}

void TRunState::SetWorkerMessage(std::string text) {
  std::lock_guard lock(messageMutex_);
  workerMessage_ = std::move(text);
}

std::string TRunState::WorkerMessage() const {
  std::lock_guard lock(messageMutex_);
  return workerMessage_;
}

TMailPlan TRunState::Plan() const {
  std::lock_guard lock(planMutex_);
  return plan_;
}

void TRunState::SetPlan(const TMailPlan& plan) {
  std::lock_guard lock(planMutex_);
  plan_ = plan;
}

TConnectionPolicy TRunState::Policy() const {
  std::lock_guard lock(planMutex_);
  return policy_;
}

void TRunState::SetPolicy(TConnectionPolicy policy) {
  std::lock_guard lock(planMutex_);
  policy_ = std::move(policy);
}

void TRunState::AddSecretProblem(std::string accountKey, std::string problem) {
  std::lock_guard lock(planMutex_);
  policy_.SecretProblems.emplace_back(std::move(accountKey), std::move(problem));
}

void TRunState::RefreshStatus(TFrontEndSink& sink) {
  std::lock_guard lock(statusMutex_);
  RefreshLocked(sink);
}

void TRunState::Say(TFrontEndSink& sink, std::string message) {
  std::lock_guard lock(statusMutex_);
  SetWorkerMessage(std::move(message));
  RefreshLocked(sink);
}

void TRunState::RefreshLocked(TFrontEndSink& sink) {
  TStatusTexts t;
  t.Accounts = "邮箱：" + std::to_string(AccountCount.load()) + "个";
  t.Mails = "邮件：" + std::to_string(NewMailCount.load()) + "封";
  t.Space = "占用空间：" + std::to_string(MailboxSizeKb.load()) + "KB";
  t.State = WorkerMessage();
  std::string line = LocalDateTimeText(std::time(nullptr)) + ": " + t.State;
  if (EventLog.Add(line))
    t.NewLogLine = std::move(line);
  sink.StatusRefresh(t);
}

std::string LocalDateTimeText(std::time_t when, bool omitMidnight) {
  if (when == 0)
    return {};
  std::tm tm{};
  localtime_r(&when, &tm);
  char buf[32];
  if (omitMidnight && tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0) {
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
  } else {
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  }
  return buf;
}

}  // namespace pelorix
