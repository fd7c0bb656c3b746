#pragma once
// Where a message entered the network: the addresses in its "Received:"
// lines looked up in the IP location table, hop by hop, origin first.

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pelorix {

class TReportSink;

// The IP location table in force, held open between lookups. Refresh (once
// per account) looks again which file is in force and re-opens it only
// when that file changed; a table saved in between takes effect then.
class TIpLocationTable {
 public:
  // A table file up to maxInMemory bytes is read whole at each Refresh.
  explicit TIpLocationTable(std::filesystem::path home, long long maxInMemory = 64LL << 20);
  ~TIpLocationTable();
  TIpLocationTable(const TIpLocationTable&) = delete;
  TIpLocationTable& operator=(const TIpLocationTable&) = delete;

  void Refresh();
  // As LookupLocation, on the file open now (empty when there is none).
  std::string Lookup(std::string_view address) const;

 private:
  std::filesystem::path home_;
  long long maxInMemory_;
  std::filesystem::path file_;
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

// The address to look up in one received line: none, the only candidate,
// or the next-to-last one.
std::string ChooseLookupAddress(std::string_view receivedLine);

// Location text of an address: "(area@detail)", the same + "...", "..." or
// empty (no table file). Opens and closes the table itself.
std::string LookupLocation(std::string_view address, const std::filesystem::path& tableFile);

// Writes the route block (empty line, heading, three lines per hop from the
// origin on) and returns the sender route ("→" + location per hop).
std::string WriteRoute(const std::vector<std::string>& receivedLines,
                       const std::filesystem::path& home, TReportSink& report);
// The same with a table the caller keeps open.
std::string WriteRoute(const std::vector<std::string>& receivedLines, const TIpLocationTable& table,
                       TReportSink& report);

}  // namespace pelorix
