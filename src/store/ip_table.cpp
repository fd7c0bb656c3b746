#include "store/ip_table.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <istream>
#include <tuple>
#include <unordered_map>
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

std::string_view FieldBytes(std::string_view record, TField f) {
  auto length = static_cast<unsigned char>(record[f.offset]);
  // A length byte past the field's room comes from a damaged file.
  std::size_t n = std::min<std::size_t>(length, f.size - 1);
  return record.substr(f.offset + 1, n);
}

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string DecodeField(std::string_view record, TField f) {
  std::string_view bytes = FieldBytes(record, f);
  return IsAscii(bytes) ? std::string(bytes) : FromAnsi(bytes);
}

// Decoded texts of one file read: a delivered table of a million records
// repeats its areas and places, and decoding each anew is what makes
// reading it slow.
class TTextCache {
 public:
  std::string Decode(std::string_view record, TField f) {
    std::string_view bytes = FieldBytes(record, f);
    if (IsAscii(bytes))
      return std::string(bytes);
    auto it = texts_.find(bytes);
    if (it == texts_.end()) {
      if (texts_.size() >= kMaxEntries)
        texts_.clear();
      it = texts_.emplace(std::string(bytes), FromAnsi(bytes)).first;
    }
    return it->second;
  }

 private:
  static constexpr std::size_t kMaxEntries = 1 << 16;
  struct THash : std::hash<std::string_view> {
    using is_transparent = void;
  };
  std::unordered_map<std::string, std::string, THash, std::equal_to<>> texts_;
};

void EncodeField(std::string& record, TField f, std::string_view utf8) {
  std::string ansi = ToAnsiCut(utf8, f.size - 1);
  record[f.offset] = static_cast<char>(ansi.size());
  record.replace(f.offset + 1, ansi.size(), ansi);
}

TIpRecord ShownRow(TIpRecord r) {
  auto trimmed = [](std::string& s) {
    std::string_view t = ascii::Trim(s);
    if (t.size() != s.size())
      s = std::string(t);
  };
  if (r.StartIp.find(' ') != std::string::npos)
    r.StartIp = BlanksToZeros(r.StartIp);
  if (r.EndIp.find(' ') != std::string::npos)
    r.EndIp = BlanksToZeros(r.EndIp);
  trimmed(r.Area);
  trimmed(r.Place);
  return r;
}
}  // namespace

bool operator==(const TIpRecord& a, const TIpRecord& b) {
  return a.StartIp == b.StartIp && a.EndIp == b.EndIp && a.Area == b.Area && a.Place == b.Place;
}

fs::path DeliveredIpTableFile() {
  if (const char* forced = std::getenv("PELORIX_IP_TABLE"))
    return forced;
  std::error_code ec;
  std::vector<fs::path> candidates;
  // Beside the running program first, so a package works whatever prefix
  // it was built for.
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec)
    candidates.push_back(exe.parent_path().parent_path() / "share" / "pelorix" / "ip.dat");
  candidates.emplace_back(PELORIX_INSTALLED_IP_TABLE);
  candidates.emplace_back(PELORIX_BUILD_IP_TABLE);
  for (const auto& file : candidates) {
    if (fs::is_regular_file(file, ec))
      return file;
  }
  return {};
}

std::vector<fs::path> IpTableFilesInForce(const fs::path& home) {
  return IpTableFilesInForce(home, DeliveredIpTableFile());
}

std::vector<fs::path> IpTableFilesInForce(const fs::path& home, const fs::path& delivered) {
  const fs::path modal = home / "modal";
  std::vector<fs::path> files;
  if (auto user = FindFileNoCase(modal, "IPuser.dat"))
    files.push_back(*user);
  if (auto own = FindFileNoCase(modal, "ip.dat"))
    files.push_back(*own);
  std::error_code ec;
  if (!delivered.empty() && fs::is_regular_file(delivered, ec))
    files.push_back(delivered);
  return files;
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
  std::error_code ec;
  if (fs::is_directory(file, ec))
    return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::vector<TIpRecord> rows;
  rows.reserve(CountIpRecords(in));
  in.seekg(0);
  TTextCache texts;
  // Whole records per block, so only the end of the file can hold a part.
  std::string block(kIpRecordSize * 4096, '\0');
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    for (std::size_t at = 0; at + kIpRecordSize <= got; at += kIpRecordSize) {
      const std::string_view record = std::string_view(block).substr(at, kIpRecordSize);
      rows.push_back(
          ShownRow({DecodeField(record, kFields[0]), DecodeField(record, kFields[1]),
                    texts.Decode(record, kFields[2]), texts.Decode(record, kFields[3])}));
    }
  }
  if (in.bad())
    return std::nullopt;
  return rows;
}

void SortIpRows(std::vector<TIpRecord>& rows) {
  auto byStart = [](const TIpRecord& a, const TIpRecord& b) { return a.StartIp < b.StartIp; };
  // Saved and delivered tables are in order already.
  if (std::is_sorted(rows.begin(), rows.end(), byStart))
    return;
  std::stable_sort(rows.begin(), rows.end(), byStart);
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

std::optional<std::vector<TIpRecord>> ReadSorted(const fs::path& file) {
  auto rows = ReadIpTableFile(file);
  if (rows)
    SortIpRows(*rows);
  return rows;
}

bool IsUserFile(const fs::path& home, const fs::path& file) {
  return file == UserIpTableFile(home);
}

bool FullOrder(const TIpRecord& a, const TIpRecord& b) {
  return std::tie(a.StartIp, a.EndIp, a.Area, a.Place) <
         std::tie(b.StartIp, b.EndIp, b.Area, b.Place);
}
}  // namespace

std::optional<std::vector<TIpRecord>> LoadUserIpRows(const fs::path& home) {
  const fs::path file = UserIpTableFile(home);
  std::error_code ec;
  if (!fs::exists(file, ec))
    return std::vector<TIpRecord>();
  return ReadSorted(file);
}

namespace {
std::optional<std::vector<TIpRecord>> MergeLayers(const fs::path& home,
                                                  const std::vector<TIpRecord>* userRows) {
  std::vector<TIpRecord> all;
  std::unordered_set<std::string> above;
  if (userRows) {
    all = *userRows;
    for (const auto& r : all)
      above.insert(r.StartIp);
  }
  for (const fs::path& file : IpTableFilesInForce(home)) {
    if (userRows && IsUserFile(home, file))
      continue;
    auto rows = ReadIpTableFile(file);
    if (!rows)
      return std::nullopt;
    std::unordered_set<std::string> starts;
    for (auto& r : *rows) {
      if (above.count(r.StartIp) > 0)
        continue;
      starts.insert(r.StartIp);
      all.push_back(std::move(r));
    }
    above.merge(starts);
  }
  SortIpRows(all);
  return all;
}
}  // namespace

std::optional<std::vector<TIpRecord>> LoadAllIpRows(const fs::path& home) {
  return MergeLayers(home, nullptr);
}

std::optional<std::vector<TIpRecord>> LoadAllIpRows(const fs::path& home,
                                                    const std::vector<TIpRecord>& userRows) {
  return MergeLayers(home, &userRows);
}

std::vector<TIpRecord> LoadIpTable(const fs::path& home) {
  auto rows = LoadAllIpRows(home);
  return rows ? std::move(*rows) : std::vector<TIpRecord>();
}

bool SaveIpTable(const fs::path& home, const std::vector<TIpRecord>& userRows, std::string* error) {
  return WriteTable(UserIpTableFile(home), userRows, true, error);
}

namespace {
// The user's rows split into those equal to a row of a table beneath and
// the rest, in their order.
bool SplitCopiedRows(const fs::path& home, std::vector<TIpRecord>& own,
                     std::vector<TIpRecord>& copied) {
  auto user = LoadUserIpRows(home);
  if (!user)
    return false;
  std::vector<TIpRecord> below;
  for (const fs::path& file : IpTableFilesInForce(home)) {
    if (IsUserFile(home, file))
      continue;
    auto rows = ReadIpTableFile(file);
    if (!rows)
      return false;
    below.insert(below.end(), std::make_move_iterator(rows->begin()),
                 std::make_move_iterator(rows->end()));
  }
  // A million rows on either side: sorted once, then one look-up each.
  std::sort(below.begin(), below.end(), FullOrder);
  own.clear();
  copied.clear();
  for (auto& r : *user) {
    // The user's file holds trimmed texts, as the tables beneath are shown.
    (std::binary_search(below.begin(), below.end(), r, FullOrder) ? copied : own)
        .push_back(std::move(r));
  }
  return true;
}
}  // namespace

std::optional<std::size_t> CountCopiedIpRows(const fs::path& home) {
  std::vector<TIpRecord> own, copied;
  if (!SplitCopiedRows(home, own, copied))
    return std::nullopt;
  return copied.size();
}

bool SlimUserIpTable(const fs::path& home, std::size_t* dropped, std::string* error) {
  std::vector<TIpRecord> own, copied;
  if (!SplitCopiedRows(home, own, copied)) {
    if (error)
      *error = "cannot read the IP tables";
    return false;
  }
  if (dropped)
    *dropped = copied.size();
  if (copied.empty())
    return true;
  return SaveIpTable(home, own, error);
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
