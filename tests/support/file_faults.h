#pragma once
// Makes one of the program's file calls fail as a full or failing disk
// would, for as long as the scope lives.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "store/file_fault.h"

namespace pelorix::test {

class TFileFaultScope {
 public:
  // The nth call (from 1) of `op` on a path containing `part` fails with
  // `error`; nth 0 fails none and only counts.
  TFileFaultScope(FileOp op, int nth, int error, std::string part = {})
      : calls_(std::make_shared<std::atomic<int>>(0)) {
    SetFileFault([op, nth, error, part = std::move(part), calls = calls_](
                     FileOp called, const std::filesystem::path& path) {
      if (called != op || path.string().find(part) == std::string::npos)
        return 0;
      return ++*calls == nth ? error : 0;
    });
  }
  ~TFileFaultScope() { SetFileFault({}); }
  TFileFaultScope(const TFileFaultScope&) = delete;
  TFileFaultScope& operator=(const TFileFaultScope&) = delete;
  int Calls() const { return *calls_; }

 private:
  std::shared_ptr<std::atomic<int>> calls_;
};

}  // namespace pelorix::test
