#include "engine/learning.h"

#include "classify/tokenizer.h"
#include "engine/message_file.h"
#include "engine/origin.h"
#include "engine/verdict.h"
#include "mime/mail_message.h"

namespace pelorix {

std::vector<std::string> RouteLocations(std::string_view route) {
  static constexpr std::string_view kArrow = "→";
  std::vector<std::string> places;
  while (!route.empty()) {
    if (route.starts_with(kArrow))
      route.remove_prefix(kArrow.size());
    const auto next = route.find(kArrow);
    std::string_view place = route.substr(0, next);
    if (!place.empty() && place != "...")
      places.emplace_back(place);
    if (next == std::string_view::npos)
      break;
    route.remove_prefix(next);
  }
  return places;
}

std::string SenderRouteOf(const TMailMessage& message, const TIpLocationTable& table) {
  const THeaderScan scan = ScanHeaders(DecodedHeaderLines(message.Headers.Lines), {});
  TReportLines ignored;
  return WriteRoute(scan.ReceivedLines, table, ignored);
}

std::vector<std::string> MessageTokens(const TMailMessage& message,
                                       const std::vector<std::string>* bodyLines,
                                       std::string_view senderRoute) {
  TTokenizeOptions options;
  options.BodyLines = bodyLines;
  options.Locations = RouteLocations(senderRoute);
  return TokenizeMessage(message, options);
}

}  // namespace pelorix
