#include "store/file_fault.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>

namespace pelorix {
namespace fs = std::filesystem;

namespace {

// The one hook of the process; tests install it, the program never does.
struct THookSlot {
  std::mutex Lock;
  std::shared_ptr<const FileFaultHook> Hook;
  std::atomic<bool> Installed{false};
};

THookSlot& Slot() {
  static THookSlot slot;
  return slot;
}

}  // namespace

void SetFileFault(FileFaultHook hook) {
  THookSlot& slot = Slot();
  std::lock_guard lock(slot.Lock);
  slot.Installed = static_cast<bool>(hook);
  slot.Hook = hook ? std::make_shared<const FileFaultHook>(std::move(hook)) : nullptr;
}

int FileFault(FileOp op, const fs::path& path) {
  THookSlot& slot = Slot();
  if (!slot.Installed.load(std::memory_order_relaxed))
    return 0;
  std::shared_ptr<const FileFaultHook> hook;
  {
    std::lock_guard lock(slot.Lock);
    hook = slot.Hook;
  }
  const int err = hook ? (*hook)(op, path) : 0;
  if (err != 0)
    errno = err;
  return err;
}

int OpenForWriting(const fs::path& path, int flags, mode_t mode) {
  if (FileFault(FileOp::Open, path) != 0)
    return -1;
  return ::open(path.c_str(), flags, mode);
}

std::FILE* OpenStream(const fs::path& path, const char* mode) {
  if (FileFault(FileOp::Open, path) != 0)
    return nullptr;
  return std::fopen(path.c_str(), mode);
}

bool WriteFully(int fd, std::string_view bytes, const fs::path& path) {
  if (FileFault(FileOp::Write, path) != 0)
    return false;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool WriteStream(std::FILE* file, std::string_view bytes, const fs::path& path) {
  if (FileFault(FileOp::Write, path) != 0)
    return false;
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

bool SyncFile(int fd, const fs::path& path) {
  if (FileFault(FileOp::Sync, path) != 0)
    return false;
  return ::fsync(fd) == 0;
}

bool SyncFileSystem(int fd, const fs::path& path) {
  if (FileFault(FileOp::Sync, path) != 0)
    return false;
  return ::syncfs(fd) == 0;
}

bool SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return false;
  const bool synced = SyncFile(fd, folder);
  const int cause = errno;
  ::close(fd);
  errno = cause;
  return synced;
}

bool RenameFile(const fs::path& from, const fs::path& to) {
  if (FileFault(FileOp::Rename, to) != 0)
    return false;
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RenameNoReplace(const fs::path& from, const fs::path& to) {
  if (FileFault(FileOp::Rename, to) != 0)
    return false;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS)
    return false;
  // A file system without that flag: a hard link refuses an existing name too.
  if (::link(from.c_str(), to.c_str()) != 0)
    return false;
  ::unlink(from.c_str());
  return true;
}

}  // namespace pelorix
