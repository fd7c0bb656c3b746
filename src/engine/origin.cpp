#include "engine/origin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>

#include "engine/message_file.h"
#include "store/ip_table.h"
#include "text/textutil.h"

#include "text/asciiutil.h"

namespace pelorix {

namespace fs = std::filesystem;

namespace {

std::string TrimBytes(std::string_view s) {
  return std::string(ascii::Trim(s));
}

bool InRange(const std::string& address, const TIpRecord& r) {
  return !(address < r.StartIp) && !(address > r.EndIp);
}

std::string Place(const TIpRecord& r) {
  return "(" + r.Area + "@" + r.Place + ")";
}

// Binary search over the table's records: in memory when the table was
// read whole, else with positioned reads of the open file. Those go through
// the caller's cache of the records every search passes (the top of the
// search tree), and once the range left is small it is read in one piece:
// a table too big to keep costs one read per lookup instead of twenty.
class TTableReader {
 public:
  using TCache = std::unordered_map<long, std::string>;
  explicit TTableReader(std::string_view memory) : memory_(memory) {}
  TTableReader(int fd, long count, TCache* cache) : fd_(fd), count_(count), cache_(cache) {}
  long Count() const {
    return fd_ < 0 ? static_cast<long>(memory_.size() / kIpRecordSize) : count_;
  }
  // The record's bytes, from memory, the range read, the cache or the file.
  bool Raw(long index, std::string_view& record, bool keep = false) {
    const std::size_t at = static_cast<std::size_t>(index) * kIpRecordSize;
    if (fd_ < 0) {
      if (at + kIpRecordSize > memory_.size())
        return false;
      record = std::string_view(memory_).substr(at, kIpRecordSize);
      return true;
    }
    if (index >= rangeStart_ &&
        static_cast<std::size_t>(index - rangeStart_ + 1) * kIpRecordSize <= range_.size()) {
      record = std::string_view(range_).substr(
          static_cast<std::size_t>(index - rangeStart_) * kIpRecordSize, kIpRecordSize);
      return true;
    }
    if (cache_ != nullptr) {
      if (auto it = cache_->find(index); it != cache_->end()) {
        record = it->second;
        return true;
      }
    }
    std::string bytes(kIpRecordSize, '\0');
    if (::pread(fd_, bytes.data(), bytes.size(), static_cast<off_t>(at)) !=
        static_cast<ssize_t>(bytes.size()))
      return false;
    if (keep && cache_ != nullptr && cache_->size() < kMaxCached) {
      record = cache_->emplace(index, std::move(bytes)).first->second;
    } else {
      single_ = std::move(bytes);
      record = single_;
    }
    return true;
  }
  // Reads records first..last in one piece; they are then served from it.
  void ReadRange(long first, long last) {
    if (fd_ < 0 || !range_.empty())
      return;
    range_.resize(static_cast<std::size_t>(last - first + 1) * kIpRecordSize);
    const ssize_t n = ::pread(fd_, range_.data(), range_.size(),
                              static_cast<off_t>(first) * static_cast<off_t>(kIpRecordSize));
    range_.resize(n > 0 ? static_cast<std::size_t>(n) / kIpRecordSize * kIpRecordSize : 0);
    rangeStart_ = first;
  }
  bool Read(long index, TIpRecord& record) {
    std::string_view raw;
    if (!Raw(index, raw))
      return false;
    record = DecodeIpRecord(raw);
    return true;
  }
  std::string Lookup(std::string_view addressText);

  static constexpr long kRangeRecords = 64;  // read in one piece: 8 KB
  static constexpr std::size_t kMaxCached = 1 << 15;

 private:
  std::string_view memory_;
  int fd_ = -1;
  long count_ = 0;
  TCache* cache_ = nullptr;
  std::string range_, single_;
  long rangeStart_ = 0;
};

// The start address of a record as the search compares it. Addresses are
// ASCII, which reads the same in the table's encoding: only other bytes
// need the decoder.
std::string StartKey(std::string_view raw) {
  const std::size_t n = std::min<std::size_t>(static_cast<unsigned char>(raw[0]), 15);
  const std::string_view bytes = raw.substr(1, n);
  if (std::all_of(bytes.begin(), bytes.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return TrimBytes(bytes);
  return TrimBytes(DecodeIpRecord(raw).StartIp);
}

std::string TTableReader::Lookup(std::string_view addressText) {
  const long count = Count();
  // An empty table names no place for any address.
  if (count <= 0)
    return "...";
  const std::string address(addressText);
  long low = 0, high = count - 1, middle = 0;
  std::string_view raw;
  while (low <= high) {
    if (high - low < kRangeRecords)
      ReadRange(low, high);
    middle = (low + high) / 2;
    if (!Raw(middle, raw, true))
      return "...";
    const std::string key = StartKey(raw);
    if (address > key) {
      low = middle + 1;
    } else if (address < key) {
      high = middle - 1;
    } else {
      break;
    }
  }
  const TIpRecord candidate = DecodeIpRecord(raw);
  if (InRange(address, candidate))
    return Place(candidate);
  std::string result;
  if (address < candidate.StartIp && middle > 0) {
    TIpRecord before;
    if (Read(middle - 1, before) && InRange(address, before)) {
      result = Place(before);
    }
  }
  return result + "...";
}

int OpenTable(const fs::path& path) {
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

void WriteHop(TReportSink& report, int k, const std::string& line, const std::string& location) {
  report.Line("   第 " + std::to_string(k) + (k == 1 ? "个发件者：" : " 个传递者：") + line);
  report.Line("   真实网络地址: " + location);
  report.Line(std::string(30, ' ') + "↓ ");
}

}  // namespace

std::string ChooseLookupAddress(std::string_view receivedLine) {
  std::string all = ExtractIpAddresses(receivedLine);
  if (all.empty())
    return {};
  std::vector<std::string> candidates;
  std::size_t start = 0;
  while (true) {
    std::size_t bar = all.find('|', start);
    candidates.push_back(
        all.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos)
      break;
    start = bar + 1;
  }
  return candidates.size() == 1 ? candidates[0] : candidates[candidates.size() - 2];
}

std::string LookupLocation(std::string_view addressText, const fs::path& tableFile) {
  const int fd = OpenTable(tableFile);
  if (fd < 0)
    return {};
  struct stat st {};
  const long count =
      ::fstat(fd, &st) == 0 ? static_cast<long>(st.st_size / static_cast<off_t>(kIpRecordSize)) : 0;
  std::string result = TTableReader(fd, count, nullptr).Lookup(addressText);
  ::close(fd);
  return result;
}

namespace {
// Whether a location text places the address (a table that has no range
// for it answers "...", one that cannot be opened nothing).
bool Places(const std::string& location) {
  return !location.empty() && location != "...";
}

// The answer over tables searched in order, each asked by `ask`.
template <class TAsk>
std::string FirstPlacing(std::size_t count, TAsk ask) {
  std::string answer;
  for (std::size_t i = 0; i < count; ++i) {
    std::string location = ask(i);
    if (Places(location))
      return location;
    if (!location.empty())
      answer = std::move(location);
  }
  return answer;
}
}  // namespace

std::string LookupLocation(std::string_view address, const std::vector<fs::path>& tableFiles) {
  return FirstPlacing(tableFiles.size(),
                      [&](std::size_t i) { return LookupLocation(address, tableFiles[i]); });
}

// One table file held open, re-opened when it changes.
class TIpLocationTable::TFile {
 public:
  explicit TFile(long long maxInMemory) : maxInMemory_(maxInMemory) {}
  ~TFile() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;
  void Refresh(const fs::path& file);
  std::string Lookup(std::string_view address) const;

 private:
  long long maxInMemory_;
  fs::path file_;
  int fd_ = -1;
  bool inMemory_ = false;
  std::string memory_;  // the whole file, when it is not larger than the limit
  // For a bigger file: the records every search passes, and recent answers.
  static constexpr std::size_t kMaxAnswers = 1 << 16;
  mutable std::unordered_map<long, std::string> probed_;
  mutable std::unordered_map<std::string, std::string> answers_;
  // What the open file was when opened: device, inode, size, change time.
  unsigned long long dev_ = 0, ino_ = 0;
  long long size_ = -1, mtimeNs_ = 0, ctimeNs_ = 0;
};

TIpLocationTable::TIpLocationTable(fs::path home, long long maxInMemory)
    : home_(std::move(home)), maxInMemory_(maxInMemory) {}

TIpLocationTable::~TIpLocationTable() = default;

void TIpLocationTable::Refresh() {
  const std::vector<fs::path> files = IpTableFilesInForce(home_);
  files_.resize(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!files_[i])
      files_[i] = std::make_unique<TFile>(maxInMemory_);
    files_[i]->Refresh(files[i]);
  }
}

std::string TIpLocationTable::Lookup(std::string_view address) const {
  return FirstPlacing(files_.size(), [&](std::size_t i) { return files_[i]->Lookup(address); });
}

void TIpLocationTable::TFile::Refresh(const fs::path& file) {
  struct stat st {};
  const bool exists = ::stat(file.c_str(), &st) == 0;
  if (exists && fd_ >= 0 && file == file_ && st.st_dev == dev_ && st.st_ino == ino_ &&
      st.st_size == size_ && st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec == mtimeNs_ &&
      st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec == ctimeNs_)
    return;
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
  inMemory_ = false;
  memory_.clear();
  probed_.clear();
  answers_.clear();
  file_ = file;
  if (!exists)
    return;
  fd_ = OpenTable(file);
  memory_.clear();
  struct stat opened {};
  if (fd_ >= 0 && ::fstat(fd_, &opened) == 0) {
    // A table of ordinary size is searched in memory: no read per record.
    if (opened.st_size <= maxInMemory_) {
      memory_.resize(static_cast<std::size_t>(opened.st_size));
      std::size_t got = 0;
      while (got < memory_.size()) {
        const ssize_t n =
            ::pread(fd_, memory_.data() + got, memory_.size() - got, static_cast<off_t>(got));
        if (n <= 0)
          break;
        got += static_cast<std::size_t>(n);
      }
      memory_.resize(got);
      inMemory_ = true;
    }
    // What was opened, which a save racing with the stat above may differ from.
    dev_ = opened.st_dev;
    ino_ = opened.st_ino;
    size_ = opened.st_size;
    mtimeNs_ = opened.st_mtim.tv_sec * 1000000000LL + opened.st_mtim.tv_nsec;
    ctimeNs_ = opened.st_ctim.tv_sec * 1000000000LL + opened.st_ctim.tv_nsec;
  }
}

std::string TIpLocationTable::TFile::Lookup(std::string_view address) const {
  if (fd_ < 0)
    return {};
  if (inMemory_)
    return TTableReader(memory_).Lookup(address);
  // Mail comes through the same relays again and again.
  const std::string key(address);
  if (auto it = answers_.find(key); it != answers_.end())
    return it->second;
  std::string answer =
      TTableReader(fd_, static_cast<long>(size_ / static_cast<long long>(kIpRecordSize)), &probed_)
          .Lookup(address);
  if (answers_.size() >= kMaxAnswers)
    answers_.clear();
  answers_.emplace(key, answer);
  return answer;
}

std::string WriteRoute(const std::vector<std::string>& receivedLines, const fs::path& home,
                       TReportSink& report) {
  std::string route;
  report.Line("");
  report.Line("该信件的发件途径如下: ");
  // Chosen once per message (a directory scan), opened again for every hop.
  const std::vector<fs::path> tables =
      receivedLines.empty() ? std::vector<fs::path>() : IpTableFilesInForce(home);
  int k = 0;
  for (auto it = receivedLines.rbegin(); it != receivedLines.rend(); ++it) {
    const std::string location = LookupLocation(ChooseLookupAddress(*it), tables);
    WriteHop(report, ++k, *it, location);
    route += "→" + location;
  }
  return route;
}

std::string WriteRoute(const std::vector<std::string>& receivedLines, const TIpLocationTable& table,
                       TReportSink& report) {
  std::string route;
  report.Line("");
  report.Line("该信件的发件途径如下: ");
  int k = 0;
  for (auto it = receivedLines.rbegin(); it != receivedLines.rend(); ++it) {
    const std::string location = table.Lookup(ChooseLookupAddress(*it));
    WriteHop(report, ++k, *it, location);
    route += "→" + location;
  }
  return route;
}

}  // namespace pelorix
