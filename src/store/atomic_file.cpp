#include "store/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

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
  int fd = ::mkstemp(name.data());
  if (fd < 0)
    return Fail(error, "cannot write", path, errno);
  const fs::path temp(name.data());

  mode_t mode = static_cast<mode_t>(newMode);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0)
    mode = st.st_mode & 07777;
  ::fchmod(fd, mode);

  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      int err = errno ? errno : EIO;
      ::close(fd);
      ::unlink(temp.c_str());
      return Fail(error, "cannot write", path, err);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    return Fail(error, "cannot write", path, err);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
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
