// Arbitrary bytes as a saved list (.NFL), tmp/all.rec or a deleted-mail
// record file, loaded the way the window loads them. One record per whole
// 3260 bytes, each the decoding of its own slice; the list rows are made
// from exactly those records; every message key names a file inside the
// folder it is meant for; the quarantine listing takes account names only
// from records of the same key; a record appended after a partial tail
// follows the whole records; records written back read back settled.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "../store/fuzz_folder.h"
#include "engine/mail_list.h"
#include "engine/mail_record.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "text/asciiutil.h"

namespace {

namespace fs = std::filesystem;
using pelorix::kMailRecordSize;
using pelorix::TMailRecord;

std::string_view View(const pelorix::TMailRecordBytes& b) {
  return std::string_view(b.data(), b.size());
}

// A key file name is one plain name: no separator, no "." or "..", no
// control character, short enough for ".msg" behind it.
bool SafeName(const std::string& name) {
  if (name == "." || name == ".." || name.size() > 255 - 4)
    return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || u < 0x20 || u == 0x7f)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 8 * kMailRecordSize)
    return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const fs::path& home = pelorix::fuzz::ScratchFolder();
  std::error_code ec;
  fs::remove_all(home / "tmp", ec);
  if (!pelorix::EnsureDeletedFolder(home))
    std::abort();
  const fs::path deleted = pelorix::DeletedFolder(home);
  const fs::path file = deleted / "list.del";
  pelorix::fuzz::WriteBytes(file, input);

  const auto records = pelorix::ReadRecordFile(file);
  if (!records || records->size() != size / kMailRecordSize)
    std::abort();
  for (std::size_t i = 0; i < records->size(); ++i) {
    if ((*records)[i] !=
        pelorix::DecodeMailRecord(input.substr(i * kMailRecordSize, kMailRecordSize)))
      std::abort();
  }

  pelorix::TMailList list;
  list.Append({});
  if (!list.LoadRecordFile(file, true) || list.Count() != records->size())
    std::abort();
  const auto rows = list.Rows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (rows[i] != pelorix::RowFromRecord((*records)[i]))
      std::abort();
  }

  for (const TMailRecord& r : *records) {
    const std::string key = pelorix::KeyFileName(r.MessageKey);
    // A key of blanks and control characters alone names no file, like no key.
    if (key.empty() != pelorix::ascii::Trim(r.MessageKey).empty() || !SafeName(key))
      std::abort();
    if (!key.empty() && (pelorix::HeaderFilePath(deleted, key).parent_path() != deleted ||
                         pelorix::BodyFilePath(deleted, key).parent_path() != deleted))
      std::abort();
  }

  // One quarantined copy whose Message-ID is the first record's key.
  if (!records->empty()) {
    const std::string& id = records->front().MessageKey;
    const std::string copy = "From: a@example.org\r\nMessage-ID: " + id + "\r\n\r\nbody\r\n";
    pelorix::fuzz::WriteBytes(deleted / "copy.eml", copy);
    const auto entries = pelorix::ListQuarantine(home);
    if (entries.size() != 1)
      std::abort();
    const auto& entry = entries.front();
    if (!entry.AccountKey.empty()) {
      bool known = false;
      for (const TMailRecord& r : *records) {
        known =
            known || (r.AccountKey == entry.AccountKey &&
                      pelorix::KeyFileName(r.MessageKey) == pelorix::KeyFileName(entry.MessageKey));
      }
      if (!known || entry.MessageKey.empty())
        std::abort();
    }
  }

  // A run appends to the deleted-mail file: a partial tail left by a crash
  // is overwritten, the whole records before it stay.
  {
    pelorix::TRecordFileWriter writer;
    if (!writer.Open(file, pelorix::TRecordFileWriter::Mode::Append))
      std::abort();
    TMailRecord added;
    added.MessageKey = "<added@example.org>";
    if (!writer.Append(added))
      std::abort();
    writer.Close();
    const auto grown = pelorix::ReadRecordFile(file);
    if (!grown || grown->size() != records->size() + 1 || grown->back() != added ||
        fs::file_size(file, ec) != grown->size() * kMailRecordSize)
      std::abort();
    for (std::size_t i = 0; i < records->size(); ++i) {
      if ((*grown)[i] != (*records)[i])
        std::abort();
    }
  }

  const fs::path saved = home / "tmp" / "all.rec";
  if (!pelorix::WriteRecordFile(saved, *records))
    std::abort();
  const auto back = pelorix::ReadRecordFile(saved);
  if (!back || back->size() != records->size())
    std::abort();
  for (std::size_t i = 0; i < back->size(); ++i) {
    if ((*back)[i] != pelorix::DecodeMailRecord(View(pelorix::EncodeMailRecord((*records)[i]))))
      std::abort();
  }
  return 0;
}
