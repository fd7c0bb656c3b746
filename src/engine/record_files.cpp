#include "engine/record_files.h"

#include <string>
#include <system_error>

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
  if (mode == Mode::Truncate) {
    file_.reset(std::fopen(path.c_str(), "wb"));
    Buffer();
    return IsOpen();
  }
  file_.reset(std::fopen(path.c_str(), "r+b"));
  if (!file_)
    file_.reset(std::fopen(path.c_str(), "w+b"));
  if (!file_)
    return false;
  Buffer();
  if (std::fseek(file_.get(), 0, SEEK_END) != 0) {
    Close();
    return false;
  }
  long size = std::ftell(file_.get());
  long whole = size < 0 ? 0 : size / static_cast<long>(kMailRecordSize);
  std::fseek(file_.get(), whole * static_cast<long>(kMailRecordSize), SEEK_SET);
  return true;
}

void TRecordFileWriter::Buffer() {
  if (!file_)
    return;
  ioBuffer_.resize(64 << 10);
  std::setvbuf(file_.get(), ioBuffer_.data(), _IOFBF, ioBuffer_.size());
}

bool TRecordFileWriter::AppendBytes(const TMailRecordBytes& bytes) {
  if (!file_)
    return false;
  return std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) == bytes.size();
}

bool TRecordFileWriter::Append(const TMailRecord& record) {
  if (!file_)
    return false;
  EncodeMailRecord(record, buffer_);
  return AppendBytes(buffer_);
}

void TRecordFileWriter::Close() {
  file_.reset();
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

void TAccountRecordFiles::Close() {
  newFile_.Close();
  spamFile_.Close();
  deletedFile_.Close();
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
  return true;
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
