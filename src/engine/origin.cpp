#include "engine/origin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Binary search over an open table file; records are read by number with
// one positioned read each.
class TTableReader {
 public:
  explicit TTableReader(int fd) : fd_(fd) {}
  long Count() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
      return 0;
    return static_cast<long>(st.st_size / static_cast<off_t>(kIpRecordSize));
  }
  bool Read(long index, TIpRecord& record) const {
    char buf[kIpRecordSize];
    const off_t at = static_cast<off_t>(index) * static_cast<off_t>(kIpRecordSize);
    if (::pread(fd_, buf, sizeof buf, at) != static_cast<ssize_t>(sizeof buf))
      return false;
    record = DecodeIpRecord(std::string_view(buf, sizeof buf));
    return true;
  }
  std::string Lookup(std::string_view addressText) const;

 private:
  int fd_;
};

std::string TTableReader::Lookup(std::string_view addressText) const {
  const long count = Count();
  // An empty table names no place for any address.
  if (count <= 0)
    return "...";
  const std::string address(addressText);
  long low = 0, high = count - 1, middle = 0;
  TIpRecord candidate;
  while (low <= high) {
    middle = (low + high) / 2;
    if (!Read(middle, candidate))
      return "...";
    const std::string key = TrimBytes(candidate.StartIp);
    if (address > key) {
      low = middle + 1;
    } else if (address < key) {
      high = middle - 1;
    } else {
      break;
    }
  }
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
  std::string result = TTableReader(fd).Lookup(addressText);
  ::close(fd);
  return result;
}

TIpLocationTable::TIpLocationTable(fs::path home) : home_(std::move(home)) {}

TIpLocationTable::~TIpLocationTable() {
  if (fd_ >= 0)
    ::close(fd_);
}

void TIpLocationTable::Refresh() {
  const fs::path file = IpTableFileInForce(home_);
  struct stat st {};
  const bool exists = ::stat(file.c_str(), &st) == 0;
  if (exists && fd_ >= 0 && file == file_ && st.st_dev == dev_ && st.st_ino == ino_ &&
      st.st_size == size_ && st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec == mtimeNs_ &&
      st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec == ctimeNs_)
    return;
  if (fd_ >= 0)
    ::close(fd_);
  fd_ = -1;
  file_ = file;
  if (!exists)
    return;
  fd_ = OpenTable(file);
  struct stat opened {};
  if (fd_ >= 0 && ::fstat(fd_, &opened) == 0) {
    // What was opened, which a save racing with the stat above may differ from.
    dev_ = opened.st_dev;
    ino_ = opened.st_ino;
    size_ = opened.st_size;
    mtimeNs_ = opened.st_mtim.tv_sec * 1000000000LL + opened.st_mtim.tv_nsec;
    ctimeNs_ = opened.st_ctim.tv_sec * 1000000000LL + opened.st_ctim.tv_nsec;
  }
}

std::string TIpLocationTable::Lookup(std::string_view address) const {
  return fd_ < 0 ? std::string() : TTableReader(fd_).Lookup(address);
}

std::string WriteRoute(const std::vector<std::string>& receivedLines, const fs::path& home,
                       TReportSink& report) {
  std::string route;
  report.Line("");
  report.Line("该信件的发件途径如下: ");
  // Chosen once per message (a directory scan), opened again for every hop.
  const fs::path table = receivedLines.empty() ? fs::path() : IpTableFileInForce(home);
  int k = 0;
  for (auto it = receivedLines.rbegin(); it != receivedLines.rend(); ++it) {
    const std::string location = LookupLocation(ChooseLookupAddress(*it), table);
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
