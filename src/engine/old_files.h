#pragma once
// The plain files of the former run's tmp/ folder, set aside at start-up,
// given a second life as this run's per-message files. On ext4 without a
// journal, creating files within minutes after thousands were deleted in
// the same block group costs ten times more (the allocator steps over every
// recently freed inode); reusing the old inodes avoids both the mass
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
  // Makes `path` a file holding `content` out of a former run's file: the
  // content is written over the old one in whole blocks and the file cut to
  // its length before it is moved to `path`, so no old content is ever seen
  // under a new name and no block is read, freed or allocated for sizes
  // alike (emptying it first would free its blocks, and ext4 then flushes
  // the rewritten file on close). False when no former file is left.
  bool Reuse(const std::filesystem::path& home, const std::filesystem::path& path,
             std::string_view content);
  // Reuse, else `path` itself (new, or rewritten in place when it exists);
  // false when it cannot be written.
  bool Write(const std::filesystem::path& home, const std::filesystem::path& path,
             std::string_view content);

 private:
  std::mutex mutex_;
  bool scanned_ = false;
  std::vector<std::filesystem::path> files_;
};

}  // namespace pelorix
