#pragma once
// Files of mail records (no header, records back to back) and the files an
// account's check or deletion writes: tmp/<name>.new, tmp/<name>.spa and
// tmp/deleted/<name>.del, plus the per-message files tmp/<key>.msg and
// tmp/<key> and their move to tmp/deleted/.

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

// An open file of mail records that is only ever appended to. Records go
// out twenty at a time and only whole: a write that fails is cut back to the
// last whole record, so the file may lack records but never holds half of
// one. They go to <file>.part, renamed over the file when it is closed.
class TRecordFileWriter {
 public:
  enum class Mode { Truncate, Append };
  TRecordFileWriter() = default;
  ~TRecordFileWriter() { Close(); }
  TRecordFileWriter(const TRecordFileWriter&) = delete;
  TRecordFileWriter& operator=(const TRecordFileWriter&) = delete;
  // Append mode starts behind the last whole record (a partial tail left by
  // a crash is overwritten). Returns false when the file cannot be opened.
  bool Open(const std::filesystem::path& path, Mode mode);
  bool IsOpen() const { return fd_ >= 0; }
  bool Append(const TMailRecord& record);
  bool AppendBytes(const TMailRecordBytes& bytes);
  // Writes what is held back; false when a record was lost on the way.
  bool Flush();
  // Flushes and closes; false when a record was lost on the way.
  bool Close();
  // Closes without touching the file: what was written goes.
  void Abandon();
  // Why the last record was lost (an errno), 0 when none was.
  int Error() const { return error_; }

 private:
  // Append mode: the whole records of the file as it is go first.
  bool CopyWholeRecords();

  static constexpr std::size_t kHeldBack = 20;
  int error_ = 0;
  std::filesystem::path path_, temp_;
  int fd_ = -1;
  long long end_ = 0;  // where the next whole record goes
  bool failed_ = false;
  std::string held_;
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
  // False with the errno when a record was lost on the way.
  bool Close(int* error = nullptr);

 private:
  TRecordFileWriter newFile_, spamFile_, deletedFile_;
};

// The event-log line for an account whose record files lost records.
std::string RecordsLostLine(std::string_view accountKey, int error);

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
