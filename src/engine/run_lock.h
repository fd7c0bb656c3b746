#pragma once
// Advisory file locks in the home folder (flock): one window per home, and
// one check or deletion run per home whichever front end starts it, so that
// two runs never write the same tmp/ files.

#include <filesystem>

namespace pelorix {

// Held by a window for its whole life.
std::filesystem::path InstanceLockPath(const std::filesystem::path& home);
// Held for the length of a check or deletion run.
std::filesystem::path RunLockPath(const std::filesystem::path& home);

class TFileLock {
 public:
  TFileLock() = default;
  ~TFileLock() { Unlock(); }
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  // Takes the lock without waiting; false when another holder has it (in
  // this process or another) or the file cannot be opened.
  bool TryLock(const std::filesystem::path& file);
  void Unlock();
  bool Locked() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace pelorix
