// Arbitrary bytes as a quarantined message appended to an mbox twice. The
// separator is one line of three or more words; no other line of the mbox
// starts with "From "; taking one ">" off every quoted line gives back the
// message with LF line ends; the two copies split apart where a reader
// splits them.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "engine/quarantine.h"

namespace {

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

bool Quoted(std::string_view line) {
  const auto quotes = line.find_first_not_of('>');
  return quotes != std::string_view::npos && quotes > 0 && line.substr(quotes).starts_with("From ");
}

// The message as the mbox must give it back: lines split at LF, one CR
// before each LF dropped, every line ended by LF.
std::string Expected(std::string_view message) {
  std::string out;
  for (std::string_view line : Lines(message)) {
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    out.append(line);
    out += '\n';
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 256 * 1024)
    return 0;
  const std::string_view message(reinterpret_cast<const char*>(data), size);
  // The envelope sender and the date come from the message's own bytes, so
  // hostile senders and out-of-range dates are tried too.
  const std::string_view sender = message.substr(0, message.find('\n')).substr(0, 64);
  std::time_t date = 0;
  for (std::size_t i = 0; i < size && i < 8; ++i)
    date = static_cast<std::time_t>((static_cast<unsigned long long>(date) << 8) | data[i]);

  std::string mbox;
  pelorix::AppendMboxrd(mbox, message, sender, date);
  pelorix::AppendMboxrd(mbox, message, "", 0);
  if (!mbox.ends_with("\n\n"))
    std::abort();

  // Split the way mbox readers do: a new message at each line that starts
  // with "From ".
  std::vector<std::string> bodies;
  for (std::string_view line : Lines(mbox)) {
    if (line.starts_with("From ")) {
      std::size_t words = 0;
      for (std::size_t i = 0; i < line.size(); ++i)
        words += line[i] != ' ' && (i == 0 || line[i - 1] == ' ');
      if (words < 3 || line.find('\r') != std::string_view::npos)
        std::abort();
      bodies.emplace_back();
      continue;
    }
    if (bodies.empty())
      std::abort();
    if (Quoted(line))
      line.remove_prefix(1);
    bodies.back().append(line);
    bodies.back() += '\n';
  }
  if (bodies.size() != 2)
    std::abort();
  const std::string expected = Expected(message) + '\n';
  for (const std::string& body : bodies) {
    if (body != expected)
      std::abort();
  }
  return 0;
}
