// Arbitrary bytes as an IP location table file: counted, read record by
// record, loaded as the table in force, imported twice, and exported and
// read back until the rows no longer change.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_folder.h"
#include "store/ip_table.h"
#include "text/ansi.h"
#include "text/asciiutil.h"

namespace {

using pelorix::TIpRecord;

std::vector<TIpRecord> ReadOrDie(const std::filesystem::path& file) {
  auto rows = pelorix::ReadIpTableFile(file);
  if (!rows)
    std::abort();
  return std::move(*rows);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * pelorix::kIpRecordSize)
    return 0;
  const auto& home = pelorix::fuzz::ScratchFolder();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto modal = home / "modal";
  std::filesystem::create_directories(modal);
  const auto table = modal / "ip.dat";
  pelorix::fuzz::WriteBytes(table, bytes);

  const std::size_t whole = size / pelorix::kIpRecordSize;
  {
    std::ifstream in(table, std::ios::binary);
    if (pelorix::CountIpRecords(in) != whole)
      std::abort();
    TIpRecord record;
    for (std::size_t i = 0; i < whole; ++i) {
      if (!pelorix::ReadIpRecordAt(in, i, record))
        std::abort();
      const auto direct =
          pelorix::DecodeIpRecord(bytes.substr(i * pelorix::kIpRecordSize, pelorix::kIpRecordSize));
      if (!(record == direct) || !pelorix::IsValidUtf8(record.Area) ||
          !pelorix::IsValidUtf8(record.Place))
        std::abort();
    }
    if (pelorix::ReadIpRecordAt(in, whole, record))
      std::abort();
  }

  const auto shown = ReadOrDie(table);
  const auto loaded = pelorix::LoadIpTable(home);
  if (shown.size() != whole || loaded.size() != whole)
    std::abort();
  for (std::size_t i = 1; i < loaded.size(); ++i) {
    if (loaded[i].StartIp < loaded[i - 1].StartIp)
      std::abort();
  }

  std::vector<TIpRecord> rows;
  int added = 0, skipped = 0;
  if (!pelorix::ImportIpTable(table, rows, &added, &skipped))
    std::abort();
  if (static_cast<std::size_t>(added) != rows.size() ||
      static_cast<std::size_t>(added + skipped) > whole)
    std::abort();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (pelorix::NormaliseIpAddress(rows[i].StartIp) != rows[i].StartIp ||
        pelorix::NormaliseIpAddress(rows[i].EndIp) != rows[i].EndIp)
      std::abort();
    if (i > 0 && rows[i].StartIp < rows[i - 1].StartIp)
      std::abort();
  }
  const auto before = rows;
  if (!pelorix::ImportIpTable(table, rows, &added, &skipped) || added != 0 || !(rows == before))
    std::abort();

  // Export and read back: after one pass (which cuts texts that grew when
  // undecodable bytes were read) the rows must survive unchanged.
  const auto copy = home / "copy.dat";
  if (!pelorix::ExportIpTable(copy, shown))
    std::abort();
  const auto once = ReadOrDie(copy);
  if (once.size() != shown.size() || !pelorix::ExportIpTable(copy, once))
    std::abort();
  if (ReadOrDie(copy) != once)
    std::abort();
  // The user's copy stores trimmed texts; they survive too.
  if (!pelorix::SaveIpTable(home, once) || !pelorix::LoadUserIpRows(home) ||
      pelorix::LoadUserIpRows(home)->size() != once.size())
    std::abort();
  std::filesystem::remove(pelorix::UserIpTableFile(home));
  return 0;
}
