// Hostile header lines (and body) through the learning judge's tokenizer:
// every token it makes must be valid to hash and bounded in size.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "classify/classifier.h"
#include "mime/mail_message.h"
#include "text/ansi.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  pelorix::TMailMessage message;
  pelorix::ParseMessageText(text, message, true);
  const std::vector<std::string> body = message.Utf8Body();
  pelorix::TTokenizeOptions options;
  options.BodyLines = &body;
  options.Locations = {std::string(text.substr(0, 80))};
  const auto tokens = pelorix::TokenizeMessage(message, options);
  for (const auto& t : tokens) {
    if (t.size() > 96 || !pelorix::IsValidUtf8(t))
      std::abort();
    (void)pelorix::TokenHash(t);
  }
  return 0;
}
