#pragma once
// Where a message entered the network: the addresses in its "Received:"
// lines looked up in the IP location table, hop by hop, origin first.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

class TReportSink;

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

}  // namespace pelorix
