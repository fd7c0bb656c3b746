// The IMAP response parser over arbitrary server bytes: every response up
// to the end of the input, with limits small enough to be reached.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

#include "net/imap_response.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 256 * 1024)
    return 0;
  pelorix::TImapLimits limits;
  limits.MaxLine = 64 + (data[0] & 0x0f) * 256;
  limits.MaxKept = (data[0] >> 4) * 64;
  limits.MaxDepth = 1 + (data[0] & 7);
  limits.MaxValues = 4096;
  pelorix::TImapBufferSource source(
      std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  while (!source.AtEnd()) {
    try {
      const pelorix::TImapResponse r = pelorix::ReadImapResponse(source, limits);
      std::size_t kept = 0;
      for (const auto& v : r.Data)
        kept += v.Text.size();
      (void)kept;
      (void)pelorix::FetchItem(r, "BODY[]");
    } catch (const pelorix::EImapProtocolError&) {
    } catch (const pelorix::EPelorixError&) {
      break;  // the input ended inside a response
    }
  }
  (void)pelorix::DecodeMailboxName(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
