#include "engine/sink.h"

namespace pelorix {

bool TEventLog::Add(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (!seen_.insert(line).second)
    return false;
  lines_.push_back(line);
  return true;
}

void TEventLog::Clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
  seen_.clear();
}

std::vector<std::string> TEventLog::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

}  // namespace pelorix
