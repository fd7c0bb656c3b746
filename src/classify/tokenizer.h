#pragma once
// The clues a message gives a learning judge: words of the subject and the
// body, CJK runs as character bigrams, and the shape of the header lines
// (addresses, relays, Message-ID, mailer, MIME form, dates, header names).
// A token is a short UTF-8 text with a prefix naming where it came from.

#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

class TMailMessage;

struct TTokenizeOptions {
  // Body lines (UTF-8, as the body file lists them) taken into account;
  // nullptr for a header check.
  const std::vector<std::string>* BodyLines = nullptr;
  // Locations of the relay hops (origin first), from the IP table.
  std::vector<std::string> Locations;
};

// Every distinct token of the message, sorted; none longer than 96 bytes.
std::vector<std::string> TokenizeMessage(const TMailMessage& message,
                                         const TTokenizeOptions& options = {});

// Word tokens of a text with a prefix: ASCII words lower-cased, CJK runs as
// bigrams (a lone CJK character as itself). Appends to `out`.
void TokenizeText(std::string_view utf8, std::string_view prefix, std::vector<std::string>& out);

// The shape of an identifier: letters to "a"/"A", digits to "9", runs of
// one class collapsed, other characters kept ("4F2A.1b@x" -> "9A9.9a@a").
std::string TextShape(std::string_view text);

}  // namespace pelorix
