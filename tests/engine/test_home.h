#pragma once
// A fresh home folder per test, removed afterwards.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace pelorix::test {

class TTempHome {
 public:
  TTempHome() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "pelorix-engine-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    std::filesystem::create_directories(path_ / "tmp" / "deleted");
  }
  ~TTempHome() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path Tmp() const { return path_ / "tmp"; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace pelorix::test
