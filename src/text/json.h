#pragma once
// The top level of a JSON object (RFC 8259), as OAuth servers answer: the
// members whose values are strings, numbers or booleans, as text (numbers
// as written, booleans "true"/"false"); nested values are checked and
// skipped, null members left out.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pelorix {

using TJsonMembers = std::vector<std::pair<std::string, std::string>>;

// Nothing when the text is no single well-formed JSON object.
std::optional<TJsonMembers> ParseJsonObjectMembers(std::string_view text);
// The first member of that name, or empty.
std::string JsonMember(const TJsonMembers& members, std::string_view name);
bool HasJsonMember(const TJsonMembers& members, std::string_view name);

}  // namespace pelorix
