#pragma once
// The learning judge inside a check: the tokens of a judged message, and
// where the route's places come from.

#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

class TMailMessage;
class TIpLocationTable;

// The places of a sender route ("→(area@place)→..."), origin first.
std::vector<std::string> RouteLocations(std::string_view senderRoute);

// The sender route of a message read from a file, as a check builds it.
std::string SenderRouteOf(const TMailMessage& message, const TIpLocationTable& table);

// The judge's tokens of a message as a check has it: the header, the body
// lines when given, the route's places.
std::vector<std::string> MessageTokens(const TMailMessage& message,
                                       const std::vector<std::string>* bodyLines,
                                       std::string_view senderRoute);

}  // namespace pelorix
