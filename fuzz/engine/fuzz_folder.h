#pragma once
// One scratch folder per fuzzer process, removed when the process ends.

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace pelorix::fuzz {

class TFuzzFolder {
 public:
  TFuzzFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelorix-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      std::abort();
    path_ = pattern;
  }
  ~TFuzzFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TFuzzFolder(const TFuzzFolder&) = delete;
  TFuzzFolder& operator=(const TFuzzFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline const std::filesystem::path& ScratchFolder() {
  static TFuzzFolder folder;
  return folder.Path();
}

// Replaces `file` with exactly these bytes.
inline void WriteBytes(const std::filesystem::path& file, std::string_view bytes) {
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (f == nullptr)
    std::abort();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
    std::abort();
  std::fclose(f);
}

}  // namespace pelorix::fuzz
