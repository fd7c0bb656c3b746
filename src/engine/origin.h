#pragma once
// Where a message entered the network: the addresses in its "Received:"
// lines looked up in the IP location table, hop by hop, origin first.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pelorix {

class TReportSink;

// The IP location tables in force (the user's rows, the home's table, the
// delivered one), held open between lookups. Refresh (once per account)
// looks again which files are in force and re-opens only those that
// changed; a table saved in between takes effect then.
class TIpLocationTable {
 public:
  // A table file up to maxInMemory bytes is read whole at each Refresh.
  explicit TIpLocationTable(std::filesystem::path home, long long maxInMemory = 64LL << 20);
  ~TIpLocationTable();
  TIpLocationTable(const TIpLocationTable&) = delete;
  TIpLocationTable& operator=(const TIpLocationTable&) = delete;

  void Refresh();
  // As LookupLocation, on the files open now.
  std::string Lookup(std::string_view address) const;

 private:
  class TFile;
  std::filesystem::path home_;
  long long maxInMemory_;
  std::vector<std::unique_ptr<TFile>> files_;
};

// The address to look up in one received line: none, the only candidate,
// or the next-to-last one.
std::string ChooseLookupAddress(std::string_view receivedLine);

// Location text of an address: "(area@detail)", the same + "...", "..." or
// empty (no table file). Opens and closes the table itself.
std::string LookupLocation(std::string_view address, const std::filesystem::path& tableFile);
// The same over tables searched in order: the first that places the address
// answers; "..." when none does, empty when none opens.
std::string LookupLocation(std::string_view address,
                           const std::vector<std::filesystem::path>& tableFiles);

// Writes the route block (empty line, heading, three lines per hop from the
// origin on) and returns the sender route ("→" + location per hop).
std::string WriteRoute(const std::vector<std::string>& receivedLines,
                       const std::filesystem::path& home, TReportSink& report);
// The same with a table the caller keeps open.
std::string WriteRoute(const std::vector<std::string>& receivedLines, const TIpLocationTable& table,
                       TReportSink& report);

}  // namespace pelorix
