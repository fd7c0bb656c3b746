#pragma once
// Where decoded attachments of one message are kept: a private folder (0700)
// under the system temp directory, created on first use, removed with
// everything in it when the store is cleared or destroyed. Files are named by
// the store, never by the message, so a hostile file name cannot point
// outside the folder.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

namespace pelorix {

class TAttachmentFile {
 public:
  TAttachmentFile() = default;
  TAttachmentFile(std::FILE* file, std::filesystem::path path)
      : file_(file), path_(std::move(path)) {}
  TAttachmentFile(TAttachmentFile&& other) noexcept;
  TAttachmentFile& operator=(TAttachmentFile&& other) noexcept;
  ~TAttachmentFile();
  bool IsOpen() const { return file_ != nullptr; }
  void Write(std::string_view bytes);
  // Closes the file; false when any write or the close failed.
  bool Close();
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::FILE* file_ = nullptr;
  std::filesystem::path path_;
  bool failed_ = false;
};

class TAttachmentStore {
 public:
  TAttachmentStore() = default;
  TAttachmentStore(const TAttachmentStore&) = delete;
  TAttachmentStore& operator=(const TAttachmentStore&) = delete;
  ~TAttachmentStore();
  // A new empty file for an attachment called `fileName` (used only as a
  // hint for the stored name). Not open when the folder cannot be made.
  TAttachmentFile Create(std::string_view fileName);
  // Removes the folder and every file in it.
  void Clear();
  const std::filesystem::path& Folder() const { return folder_; }

 private:
  std::filesystem::path folder_;
  unsigned long counter_ = 0;
};

}  // namespace pelorix
