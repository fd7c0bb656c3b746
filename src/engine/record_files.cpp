#include "engine/record_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "store/file_fault.h"
#include "text/ansi.h"
#include "text/textutil.h"

namespace pelorix {

namespace fs = std::filesystem;

fs::path TmpFolder(const fs::path& home) {
  return home / "tmp";
}
fs::path DeletedFolder(const fs::path& home) {
  return home / "tmp" / "deleted";
}
fs::path NewRecordPath(const fs::path& home, std::string_view fileName) {
  return TmpFolder(home) / (std::string(fileName) + ".new");
}
fs::path SpamRecordPath(const fs::path& home, std::string_view fileName) {
  return TmpFolder(home) / (std::string(fileName) + ".spa");
}
fs::path DeletedRecordPath(const fs::path& home, std::string_view fileName) {
  return DeletedFolder(home) / (std::string(fileName) + ".del");
}
fs::path AllRecordPath(const fs::path& home) {
  return TmpFolder(home) / "all.rec";
}

bool TRecordFileWriter::Open(const fs::path& path, Mode mode) {
  Close();
  failed_ = false;
  error_ = 0;
  path_ = path;
  // Written beside the file and renamed over it when closed: a process
  // killed in the middle of a write leaves the former file, never half a
  // record.
  temp_ = path;
  temp_ += ".part";
  fd_ = OpenForWriting(temp_, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0)
    return false;
  end_ = 0;
  if (mode == Mode::Append && !CopyWholeRecords()) {
    ::close(fd_);
    fd_ = -1;
    std::error_code ec;
    fs::remove(temp_, ec);
    return false;
  }
  held_.reserve(kHeldBack * kMailRecordSize);
  return true;
}

bool TRecordFileWriter::CopyWholeRecords() {
  const int in = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0)
    return errno == ENOENT;
  struct stat st {};
  bool ok = ::fstat(in, &st) == 0;
  // A partial tail left by a crash stays behind.
  const long long whole = ok ? st.st_size / static_cast<long long>(kMailRecordSize) *
                                   static_cast<long long>(kMailRecordSize)
                             : 0;
  std::string chunk(1 << 16, '\0');
  while (ok && end_ < whole) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<long long>(whole - end_, chunk.size()));
    const ssize_t n = ::pread(in, chunk.data(), want, static_cast<off_t>(end_));
    if (n < 0 && errno == EINTR)
      continue;
    ok = n > 0 &&
         WriteFully(fd_, std::string_view(chunk.data(), static_cast<std::size_t>(n)), path_);
    end_ += ok ? n : 0;
  }
  const int saved = errno;
  ::close(in);
  errno = saved;
  return ok;
}

bool TRecordFileWriter::AppendBytes(const TMailRecordBytes& bytes) {
  if (fd_ < 0)
    return false;
  held_.append(bytes.data(), bytes.size());
  return held_.size() < kHeldBack * kMailRecordSize || Flush();
}

bool TRecordFileWriter::Append(const TMailRecord& record) {
  if (fd_ < 0)
    return false;
  EncodeMailRecord(record, buffer_);
  return AppendBytes(buffer_);
}

bool TRecordFileWriter::Flush() {
  if (fd_ < 0)
    return false;
  if (!held_.empty()) {
    // Positioned writes: a tail cut back after a failure is written over.
    bool written = FileFault(FileOp::Write, path_) == 0;
    std::string_view rest = held_;
    long long at = end_;
    while (written && !rest.empty()) {
      const ssize_t n = ::pwrite(fd_, rest.data(), rest.size(), static_cast<off_t>(at));
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0) {
        written = false;
        break;
      }
      rest.remove_prefix(static_cast<std::size_t>(n));
      at += n;
    }
    if (written) {
      end_ = at;
    } else {
      failed_ = true;
      error_ = errno ? errno : EIO;
      // What a failed write left of its records goes.
      if (::ftruncate(fd_, end_) != 0)
        error_ = errno;
    }
    held_.clear();
  }
  return !failed_;
}

void TRecordFileWriter::Abandon() {
  if (fd_ < 0)
    return;
  ::close(fd_);
  fd_ = -1;
  held_.clear();
  std::error_code ec;
  fs::remove(temp_, ec);
}

bool TRecordFileWriter::Close() {
  if (fd_ < 0)
    return !failed_;
  const bool flushed = Flush();
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (RenameFile(temp_, path_))
    return flushed && closed;
  // The former file stays as it was.
  failed_ = true;
  error_ = errno ? errno : EIO;
  std::error_code ec;
  fs::remove(temp_, ec);
  return false;
}

bool EnsureDeletedFolder(const fs::path& home) {
  std::error_code ec;
  fs::create_directories(DeletedFolder(home), ec);
  return fs::is_directory(DeletedFolder(home), ec);
}

void TAccountRecordFiles::Open(const fs::path& home, std::string_view accountFileName) {
  // Without the folder the records and files of deleted mail would be lost.
  EnsureDeletedFolder(home);
  newFile_.Open(NewRecordPath(home, accountFileName), TRecordFileWriter::Mode::Truncate);
  spamFile_.Open(SpamRecordPath(home, accountFileName), TRecordFileWriter::Mode::Truncate);
  deletedFile_.Open(DeletedRecordPath(home, accountFileName), TRecordFileWriter::Mode::Append);
}

bool TAccountRecordFiles::Close(int* error) {
  bool whole = true;
  for (TRecordFileWriter* file : {&newFile_, &spamFile_, &deletedFile_}) {
    if (!file->Close()) {
      whole = false;
      if (error)
        *error = file->Error();
    }
  }
  return whole;
}

std::string RecordsLostLine(std::string_view accountKey, int error) {
  return std::string(accountKey) + " 记录文件未能写完: " + std::strerror(error ? error : EIO);
}

std::optional<std::vector<TMailRecord>> ReadRecordFile(const fs::path& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f)
    return std::nullopt;
  std::vector<TMailRecord> records;
  std::string buffer(kMailRecordSize, '\0');
  while (std::fread(buffer.data(), 1, buffer.size(), f.get()) == buffer.size()) {
    records.push_back(DecodeMailRecord(buffer));
  }
  return records;
}

bool WriteRecordFile(const fs::path& path, const std::vector<TMailRecord>& records) {
  TRecordFileWriter w;
  if (!w.Open(path, TRecordFileWriter::Mode::Truncate))
    return false;
  for (const auto& r : records) {
    if (!w.Append(r))
      return false;
  }
  return w.Close();
}

std::string KeyFileName(std::string_view messageKey) {
  std::string name = CleanFileName(messageKey);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      c = '_';
  }
  // NAME_MAX is 255 bytes on the usual file systems; leave room for ".msg".
  constexpr std::size_t kLongest = 255 - 4;
  if (name.size() > kLongest)
    name = std::string(CutUtf8(name, kLongest));
  return name;
}

fs::path HeaderFilePath(const fs::path& folder, std::string_view key) {
  return folder / (std::string(key) + ".msg");
}
fs::path BodyFilePath(const fs::path& folder, std::string_view key) {
  return folder / std::string(key);
}

namespace {
void MoveReplacing(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (!fs::is_regular_file(from, ec))
    return;
  fs::rename(from, to, ec);
  if (!ec)
    return;
  if (fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec))
    fs::remove(from, ec);
}
}  // namespace

void MoveMessageFilesToDeleted(const fs::path& home, std::string_view keyFileName) {
  if (keyFileName.empty())
    return;
  MoveReplacing(HeaderFilePath(TmpFolder(home), keyFileName),
                HeaderFilePath(DeletedFolder(home), keyFileName));
  MoveReplacing(BodyFilePath(TmpFolder(home), keyFileName),
                BodyFilePath(DeletedFolder(home), keyFileName));
}

}  // namespace pelorix
