#pragma once
// Content-Transfer-Encoding decoders for message bodies: base64 (fed line by
// line, state kept between lines), quoted-printable and uuencode. All are
// lenient: malformed input yields what can be read, never an error.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelorix {

class TBase64Decoder {
 public:
  // Appends the bytes of `text` to `out`; characters outside the alphabet
  // (blanks, line ends, garbage) are skipped, "=" closes the current group.
  void Feed(std::string_view text, std::string& out);
  // Flushes an unpadded last group.
  void Finish(std::string& out);

 private:
  std::uint32_t acc_ = 0;
  int count_ = 0;
};

// One encoded line: "=XX" gives the byte, a trailing "=" is a soft line break
// (returns true), trailing blanks are transport padding and dropped, an "="
// without two hex digits stays as it is.
bool DecodeQuotedPrintableLine(std::string_view line, std::string& out);

// "begin 644 name": true and the name when the line starts a uuencoded block.
bool IsUuBeginLine(std::string_view line, std::string& name);
// The bytes of one uuencoded line (its first character gives the count).
void DecodeUuLine(std::string_view line, std::string& out);

// Base64 lines of at most `width` characters (a multiple of 4), for sending.
std::vector<std::string> EncodeBase64(std::string_view bytes, std::size_t width = 76);

}  // namespace pelorix
