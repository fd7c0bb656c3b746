#include "engine/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace pelorix {

std::filesystem::path InstanceLockPath(const std::filesystem::path& home) {
  return home / "window.lock";
}

std::filesystem::path RunLockPath(const std::filesystem::path& home) {
  return home / "run.lock";
}

bool TFileLock::TryLock(const std::filesystem::path& file) {
  if (fd_ >= 0)
    return true;
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0)
    return false;
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void TFileLock::Unlock() {
  if (fd_ < 0)
    return;
  // Closing the descriptor releases the lock; the file stays for the next holder.
  ::close(fd_);
  fd_ = -1;
}

}  // namespace pelorix
