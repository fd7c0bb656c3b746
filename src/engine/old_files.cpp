#include "engine/old_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "store/file_fault.h"

namespace pelorix {

namespace fs = std::filesystem;

namespace {

bool WriteAll(int fd, const char* data, std::size_t size, off_t offset) {
  if (FileFault(FileOp::Write, {}) != 0)
    return false;
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, offset);
    if (n <= 0)
      return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

// `content` as the whole file behind fd. Over old bytes it is written in
// whole blocks, so the kernel need not read the old ones to merge them, and
// the file is then cut to length: emptying it first would free its blocks,
// and ext4 flushes a file rewritten after being emptied when it is closed.
bool Overwrite(int fd, std::string_view content) {
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    return false;
  if (st.st_size == 0)
    return WriteAll(fd, content.data(), content.size(), 0);
  const std::size_t block = st.st_blksize > 0 ? static_cast<std::size_t>(st.st_blksize) : 4096;
  const std::size_t whole = content.size() / block * block;
  if (!WriteAll(fd, content.data(), whole, 0))
    return false;
  if (whole < content.size()) {
    std::string tail(content.substr(whole));
    tail.resize(block, '\0');
    if (!WriteAll(fd, tail.data(), tail.size(), static_cast<off_t>(whole)))
      return false;
  }
  return ::ftruncate(fd, static_cast<off_t>(content.size())) == 0;
}

}  // namespace

bool TOldFilePool::Write(const fs::path& home, const fs::path& path, std::string_view content) {
  if (Reuse(home, path, content))
    return true;
  // A file of this run already there (the window's later checks, a key
  // seen twice) is rewritten in place like a former one.
  const int fd = OpenForWriting(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0)
    return false;
  const bool written = Overwrite(fd, content);
  return ::close(fd) == 0 && written;
}

bool TOldFilePool::Reuse(const fs::path& home, const fs::path& path, std::string_view content) {
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
        // The type the listing gave: no stat per file.
        std::error_code e3;
        if (!entry.is_symlink(e3) && entry.is_regular_file(e3))
          files_.push_back(entry.path());
      }
    }
  }
  while (!files_.empty()) {
    const fs::path old = std::move(files_.back());
    files_.pop_back();
    // Rewritten through a descriptor that refuses links, then moved: a file
    // the sweep took meanwhile is simply skipped.
    const int fd = ::open(old.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
      continue;
    const bool written = Overwrite(fd, content);
    ::close(fd);
    if (written && RenameFile(old, path))
      return true;
  }
  return false;
}

}  // namespace pelorix
