#include "store/ip_table.h"

#include <algorithm>
#include <istream>
#include <unordered_set>

#include "store/accounts.h"
#include "store/atomic_file.h"
#include "store/mail_plan.h"
#include "text/ansi.h"
#include "text/asciiutil.h"
#include "text/home.h"
#include "text/textutil.h"

namespace pelorix {
namespace fs = std::filesystem;

namespace {
struct TField {
  std::size_t offset, size;
};
constexpr TField kFields[4] = {{0, 16}, {16, 16}, {32, 31}, {63, 61}};

std::string DecodeField(std::string_view record, TField f) {
  auto length = static_cast<unsigned char>(record[f.offset]);
  // A length byte past the field's room comes from a damaged file.
  std::size_t n = std::min<std::size_t>(length, f.size - 1);
  std::string_view text = record.substr(f.offset + 1, n);
  // Addresses are plain ASCII, the same in both encodings; a table holds
  // millions of them.
  if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; }))
    return std::string(text);
  return FromAnsi(text);
}

void EncodeField(std::string& record, TField f, std::string_view utf8) {
  std::string ansi = ToAnsiCut(utf8, f.size - 1);
  record[f.offset] = static_cast<char>(ansi.size());
  record.replace(f.offset + 1, ansi.size(), ansi);
}

TIpRecord ShownRow(const TIpRecord& r) {
  return {BlanksToZeros(r.StartIp), BlanksToZeros(r.EndIp), std::string(ascii::Trim(r.Area)),
          std::string(ascii::Trim(r.Place))};
}
}  // namespace

bool operator==(const TIpRecord& a, const TIpRecord& b) {
  return a.StartIp == b.StartIp && a.EndIp == b.EndIp && a.Area == b.Area && a.Place == b.Place;
}

fs::path IpTableFileInForce(const fs::path& home) {
  const fs::path modal = home / "modal";
  if (auto user = FindFileNoCase(modal, "IPuser.dat"))
    return *user;
  if (auto delivered = FindFileNoCase(modal, "ip.dat"))
    return *delivered;
  return modal / "ip.dat";
}

fs::path UserIpTableFile(const fs::path& home) {
  const fs::path modal = home / "modal";
  if (auto user = FindFileNoCase(modal, "IPuser.dat"))
    return *user;
  return modal / "IPuser.dat";
}

std::size_t CountIpRecords(std::istream& in) {
  in.clear();
  in.seekg(0, std::ios::end);
  auto size = in.tellg();
  if (size < 0)
    return 0;
  return static_cast<std::size_t>(size) / kIpRecordSize;
}

bool ReadIpRecordAt(std::istream& in, std::size_t index, TIpRecord& record) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(index * kIpRecordSize));
  char buffer[kIpRecordSize];
  if (!in.read(buffer, sizeof buffer))
    return false;
  record = DecodeIpRecord(std::string_view(buffer, sizeof buffer));
  return true;
}

TIpRecord DecodeIpRecord(std::string_view bytes) {
  if (bytes.size() < kIpRecordSize)
    return {};
  return {DecodeField(bytes, kFields[0]), DecodeField(bytes, kFields[1]),
          DecodeField(bytes, kFields[2]), DecodeField(bytes, kFields[3])};
}

std::string EncodeIpRecord(const TIpRecord& r, bool trim) {
  std::string record(kIpRecordSize, '\0');
  auto text = [trim](const std::string& s) { return trim ? ascii::Trim(s) : std::string_view(s); };
  EncodeField(record, kFields[0], text(r.StartIp));
  EncodeField(record, kFields[1], text(r.EndIp));
  EncodeField(record, kFields[2], text(r.Area));
  EncodeField(record, kFields[3], text(r.Place));
  return record;
}

std::optional<std::vector<TIpRecord>> ReadIpTableFile(const fs::path& file) {
  auto bytes = store::ReadWholeFile(file);
  if (!bytes)
    return std::nullopt;
  std::vector<TIpRecord> rows;
  rows.reserve(bytes->size() / kIpRecordSize);
  for (std::size_t at = 0; at + kIpRecordSize <= bytes->size(); at += kIpRecordSize) {
    rows.push_back(ShownRow(DecodeIpRecord(std::string_view(*bytes).substr(at, kIpRecordSize))));
  }
  return rows;
}

void SortIpRows(std::vector<TIpRecord>& rows) {
  auto byStart = [](const TIpRecord& a, const TIpRecord& b) { return a.StartIp < b.StartIp; };
  // Saved and delivered tables are in order already.
  if (std::is_sorted(rows.begin(), rows.end(), byStart))
    return;
  std::stable_sort(rows.begin(), rows.end(), byStart);
}

std::vector<TIpRecord> LoadIpTable(const fs::path& home) {
  auto rows = ReadIpTableFile(IpTableFileInForce(home));
  if (!rows)
    return {};
  SortIpRows(*rows);
  return std::move(*rows);
}

namespace {
bool WriteTable(const fs::path& file, const std::vector<TIpRecord>& rows, bool trim,
                std::string* error) {
  std::string bytes;
  bytes.reserve(rows.size() * kIpRecordSize);
  for (const auto& r : rows)
    bytes += EncodeIpRecord(r, trim);
  return store::WriteFileAtomic(file, bytes, error);
}
}  // namespace

bool SaveIpTable(const fs::path& home, const std::vector<TIpRecord>& rows, std::string* error) {
  return WriteTable(UserIpTableFile(home), rows, true, error);
}

bool ExportIpTable(const fs::path& file, const std::vector<TIpRecord>& rows, std::string* error) {
  return WriteTable(file, rows, false, error);
}

bool ImportIpTable(const fs::path& file, std::vector<TIpRecord>& rows, int* added, int* skipped,
                   std::string* error) {
  auto imported = ReadIpTableFile(file);
  if (!imported) {
    if (error)
      *error = "cannot read " + file.string();
    return false;
  }
  int a = 0, s = 0;
  // Tables run to hundreds of thousands of rows: one look-up per record.
  std::unordered_set<std::string> known;
  known.reserve(rows.size() + imported->size());
  for (const auto& row : rows)
    known.insert(row.StartIp);
  for (auto& r : *imported) {
    auto start = NormaliseIpAddress(r.StartIp);
    auto end = NormaliseIpAddress(r.EndIp);
    if (!start || !end) {
      ++s;
      continue;
    }
    if (!known.insert(*start).second)
      continue;
    r.StartIp = *start;
    r.EndIp = *end;
    rows.push_back(std::move(r));
    ++a;
  }
  SortIpRows(rows);
  if (added)
    *added = a;
  if (skipped)
    *skipped = s;
  return true;
}

bool AddIpRow(std::vector<TIpRecord>& rows, TIpRecord row, std::string* error, std::size_t* at) {
  auto start = NormaliseIpAddress(row.StartIp);
  auto end = NormaliseIpAddress(row.EndIp);
  if (!start || !end) {
    if (error)
      *error = "not an IP address: " + (start ? row.EndIp : row.StartIp);
    return false;
  }
  if (*end < *start) {
    if (error)
      *error = "the range ends before it starts";
    return false;
  }
  // After the rows with the same start, as a stable sort would put it.
  auto pos =
      std::upper_bound(rows.begin(), rows.end(), *start,
                       [](const std::string& s, const TIpRecord& r) { return s < r.StartIp; });
  pos = rows.insert(
      pos, {*start, *end, std::string(ascii::Trim(row.Area)), std::string(ascii::Trim(row.Place))});
  if (at)
    *at = static_cast<std::size_t>(pos - rows.begin());
  return true;
}

std::optional<std::string> NormaliseIpAddress(std::string_view typed) {
  std::string_view t = ascii::Trim(typed);
  if (t.find_first_of("0123456789") == std::string_view::npos)
    return std::nullopt;
  std::string out;
  int parts = 0;
  std::size_t start = 0;
  while (true) {
    std::size_t dot = t.find('.', start);
    std::string_view part =
        ascii::Trim(t.substr(start, dot == std::string_view::npos ? dot : dot - start));
    // An octet right-aligned in the template has its blanks in front; a blank
    // inside stands for a zero, as the template's blanks always did.
    std::string digits = part.empty() ? std::string("0") : BlanksToZeros(part);
    if (digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(digits) > 255 || ++parts > 4) {
      return std::nullopt;
    }
    if (!out.empty())
      out += '.';
    out += std::string(3 - digits.size(), '0') + digits;
    if (dot == std::string_view::npos)
      break;
    start = dot + 1;
  }
  if (parts != 4)
    return std::nullopt;
  return out;
}

}  // namespace pelorix
