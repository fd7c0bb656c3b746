// Capability parsing over arbitrary server bytes: the POP3 CAPA answer and
// the lookups made in it, and the AUTH lines of an EHLO answer.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "net/pop3_session.h"
#include "net/smtp_client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 64 * 1024) {
    return 0;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Every line as an EHLO answer line.
  std::size_t start = 0;
  while (start <= bytes.size()) {
    const auto end = bytes.find('\n', start);
    const auto line = bytes.substr(start, end == std::string_view::npos ? end : end - start);
    for (const auto& word : pelorix::ParseAuthLine(line)) {
      if (word.empty()) {
        __builtin_trap();  // empty scheme names must never be kept
      }
    }
    if (end == std::string_view::npos) {
      break;
    }
    start = end + 1;
  }
  // The whole input as the answer to CAPA.
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    return 0;
  }
  const int buffer = 1 << 20;
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  setsockopt(pair[0], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  (void)send(pair[1], data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
  shutdown(pair[1], SHUT_WR);
  pelorix::TPop3Session session;
  session.AttachSocket(pair[0]);
  try {
    session.Capa();
    (void)session.HasCapability("STLS");
    (void)session.HasCapability("");
  } catch (const std::exception&) {
    // Errors are fine; crashes and leaks are not.
  }
  close(pair[1]);
  return 0;
}
