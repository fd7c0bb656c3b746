#pragma once
// The plain files of the former run's tmp/ folder, set aside at start-up,
// given a second life as this run's per-message files. On ext4 without a
// journal, creating files within half a minute after thousands were deleted
// in the same block group costs ten times more (the allocator steps over
// every recently freed inode); reusing the old inodes avoids both the mass
// deletion and the allocations.

#include <filesystem>
#include <mutex>
#include <string_view>
#include <vector>

namespace pelorix {

// Former tmp/ folders set aside live beside it under this prefix.
inline constexpr std::string_view kFormerTmpPrefix = ".tmp-former-";

class TOldFilePool {
 public:
  // Makes `path` an empty file by moving a former run's file there (emptied
  // first, so no old content is ever seen under a new name). False when no
  // former file is left; the caller then creates the file as usual.
  bool Reuse(const std::filesystem::path& home, const std::filesystem::path& path);

 private:
  std::mutex mutex_;
  bool scanned_ = false;
  std::vector<std::filesystem::path> files_;
};

}  // namespace pelorix
