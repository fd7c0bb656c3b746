#pragma once
// Files of mail records (no header, records back to back) and the files an
// account's check or deletion writes: tmp/<name>.new, tmp/<name>.spa and
// tmp/deleted/<name>.del, plus the per-message files tmp/<key>.msg and
// tmp/<key> and their move to tmp/deleted/.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/mail_record.h"

namespace pelorix {

std::filesystem::path TmpFolder(const std::filesystem::path& home);
std::filesystem::path DeletedFolder(const std::filesystem::path& home);
std::filesystem::path NewRecordPath(const std::filesystem::path& home, std::string_view fileName);
std::filesystem::path SpamRecordPath(const std::filesystem::path& home, std::string_view fileName);
std::filesystem::path DeletedRecordPath(const std::filesystem::path& home,
                                        std::string_view fileName);
std::filesystem::path AllRecordPath(const std::filesystem::path& home);
// Creates tmp/deleted/ (and tmp/) when missing; false when it cannot be made.
bool EnsureDeletedFolder(const std::filesystem::path& home);

// An open file of mail records that is only ever appended to.
class TRecordFileWriter {
 public:
  enum class Mode { Truncate, Append };
  TRecordFileWriter() = default;
  // Append mode starts behind the last whole record (a partial tail left by
  // a crash is overwritten). Returns false when the file cannot be opened.
  bool Open(const std::filesystem::path& path, Mode mode);
  bool IsOpen() const { return file_ != nullptr; }
  bool Append(const TMailRecord& record);
  bool AppendBytes(const TMailRecordBytes& bytes);
  void Close();

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  void Buffer();
  // Twenty records a write rather than one; declared first, so that it
  // outlives the stream that uses it.
  std::vector<char> ioBuffer_;
  std::unique_ptr<std::FILE, Closer> file_;
  TMailRecordBytes buffer_{};
};

// The three record files of one account, opened when the account starts
// and closed when it ends whatever its outcome.
class TAccountRecordFiles {
 public:
  // .new and .spa are emptied; .del is appended to.
  void Open(const std::filesystem::path& home, std::string_view accountFileName);
  bool AppendNew(const TMailRecordBytes& r) { return newFile_.AppendBytes(r); }
  bool AppendSpam(const TMailRecordBytes& r) { return spamFile_.AppendBytes(r); }
  bool AppendDeleted(const TMailRecordBytes& r) { return deletedFile_.AppendBytes(r); }
  void Close();

 private:
  TRecordFileWriter newFile_, spamFile_, deletedFile_;
};

// All whole records of a file; nothing when it cannot be opened.
std::optional<std::vector<TMailRecord>> ReadRecordFile(const std::filesystem::path& path);
bool WriteRecordFile(const std::filesystem::path& path, const std::vector<TMailRecord>& records);

// The key file name of a message: CleanFileName of its Message-ID, control
// characters replaced too, cut so that the longest name made from it
// (key + ".msg" / ".txt") fits the file system. Never leaves tmp/.
std::string KeyFileName(std::string_view messageKey);
std::filesystem::path HeaderFilePath(const std::filesystem::path& folder, std::string_view key);
std::filesystem::path BodyFilePath(const std::filesystem::path& folder, std::string_view key);

// Moves tmp/<key>.msg then tmp/<key> (each where it exists) to
// tmp/deleted/, replacing files there. Nothing happens for an empty key.
void MoveMessageFilesToDeleted(const std::filesystem::path& home, std::string_view keyFileName);

}  // namespace pelorix
