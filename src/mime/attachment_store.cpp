#include "mime/attachment_store.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <system_error>

namespace pelorix {

namespace {

// A short file-system-safe rendering of the message's name: ASCII letters,
// digits, ".", "-" and "_" only.
std::string SafeName(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (out.size() >= 60)
      break;
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-' || c == '_';
    out += ok ? c : '_';
  }
  return out;
}

}  // namespace

TAttachmentFile::TAttachmentFile(TAttachmentFile&& other) noexcept
    : file_(other.file_), path_(std::move(other.path_)), failed_(other.failed_) {
  other.file_ = nullptr;
}

TAttachmentFile& TAttachmentFile::operator=(TAttachmentFile&& other) noexcept {
  if (this != &other) {
    Close();
    file_ = other.file_;
    path_ = std::move(other.path_);
    failed_ = other.failed_;
    other.file_ = nullptr;
  }
  return *this;
}

TAttachmentFile::~TAttachmentFile() {
  Close();
}

void TAttachmentFile::Write(std::string_view bytes) {
  if (file_ == nullptr || bytes.empty())
    return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
    failed_ = true;
}

bool TAttachmentFile::Close() {
  if (file_ == nullptr)
    return !failed_;
  if (std::fclose(file_) != 0)
    failed_ = true;
  file_ = nullptr;
  return !failed_;
}

TAttachmentStore::~TAttachmentStore() {
  Clear();
}

TAttachmentFile TAttachmentStore::Create(std::string_view fileName) {
  if (folder_.empty()) {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec)
      base = "/tmp";
    std::string templ = (base / "pelorix-mail-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr)
      return {};
    folder_ = templ;
  }
  std::filesystem::path path = folder_ / (std::to_string(++counter_) + "_" + SafeName(fileName));
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    return {};
  std::FILE* f = ::fdopen(fd, "wb");
  if (f == nullptr) {
    ::close(fd);
    return {};
  }
  return TAttachmentFile(f, path);
}

void TAttachmentStore::Clear() {
  if (folder_.empty())
    return;
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
  folder_.clear();
  counter_ = 0;
}

}  // namespace pelorix
