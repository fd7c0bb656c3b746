#include "store/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "store/file_fault.h"

namespace pelorix::store {
namespace fs = std::filesystem;

namespace {
bool Fail(std::string* error, const std::string& what, const fs::path& path, int err) {
  if (error)
    *error = what + " " + path.string() + ": " + std::strerror(err);
  return false;
}
}  // namespace

bool WriteFileAtomic(const fs::path& path, std::string_view bytes, std::string* error,
                     unsigned newMode) {
  fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = FileFault(FileOp::Open, path) != 0 ? -1 : ::mkstemp(name.data());
  if (fd < 0)
    return Fail(error, "cannot write", path, errno);
  const fs::path temp(name.data());

  mode_t mode = static_cast<mode_t>(newMode);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0)
    mode = st.st_mode & 07777;
  ::fchmod(fd, mode);

  if (!WriteFully(fd, bytes, path) || !SyncFile(fd, path)) {
    const int err = errno ? errno : EIO;
    ::close(fd);
    ::unlink(temp.c_str());
    return Fail(error, "cannot write", path, err);
  }
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return Fail(error, "cannot write", path, err);
  }
  if (!RenameFile(temp, path)) {
    const int err = errno;
    ::unlink(temp.c_str());
    return Fail(error, "cannot replace", path, err);
  }
  return true;
}

std::optional<std::string> ReadWholeFile(const fs::path& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec))
    return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  // In large pieces: a check's brief or a kept copy runs to megabytes.
  std::string data;
  char piece[64 << 10];
  while (in.read(piece, sizeof piece) || in.gcount() > 0)
    data.append(piece, static_cast<std::size_t>(in.gcount()));
  if (in.bad())
    return std::nullopt;
  return data;
}

}  // namespace pelorix::store
