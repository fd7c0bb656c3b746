#include "engine/old_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace pelorix {

namespace fs = std::filesystem;

bool TOldFilePool::Reuse(const fs::path& home, const fs::path& path) {
  std::lock_guard lock(mutex_);
  if (!scanned_) {
    scanned_ = true;
    std::error_code ec;
    for (const auto& folder : fs::directory_iterator(home, ec)) {
      std::error_code e2;
      if (!folder.path().filename().string().starts_with(kFormerTmpPrefix) ||
          !fs::is_directory(folder.symlink_status(e2)))
        continue;
      for (const auto& entry : fs::directory_iterator(folder.path(), e2)) {
        std::error_code e3;
        if (fs::is_regular_file(entry.symlink_status(e3)))
          files_.push_back(entry.path());
      }
    }
  }
  while (!files_.empty()) {
    const fs::path old = std::move(files_.back());
    files_.pop_back();
    // Emptied through a descriptor that refuses links, then moved: a file
    // the sweep took meanwhile is simply skipped.
    const int fd = ::open(old.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
      continue;
    ::close(fd);
    if (std::rename(old.c_str(), path.c_str()) == 0)
      return true;
  }
  return false;
}

}  // namespace pelorix
