// Arbitrary server bytes as the answer to RETR, kept raw for the copy made
// before a deletion. When the status line is "+OK", the copy must be the
// answer's lines up to the "." line, each with one leading dot taken off and
// its line end as sent, whatever the receive size; answers that never end
// must fail rather than give a copy.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "net/errors.h"
#include "net/pop3_session.h"

namespace {

// The copy as the protocol defines it; false when the answer has no end.
bool Expected(std::string_view answer, std::string& out) {
  while (!answer.empty()) {
    const auto end = answer.find('\n');
    if (end == std::string_view::npos)
      return false;
    std::string_view line = answer.substr(0, end + 1);
    answer.remove_prefix(end + 1);
    if (line == ".\r\n" || line == ".\n")
      return true;
    if (line.front() == '.')
      line.remove_prefix(1);
    out.append(line);
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 256 * 1024)
    return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    return 0;
  const int buffer = 1 << 20;
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  setsockopt(pair[0], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n =
        send(pair[1], bytes.data() + sent, bytes.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n <= 0)
      break;
    sent += static_cast<std::size_t>(n);
  }
  shutdown(pair[1], SHUT_WR);

  pelorix::TPop3Session session;
  session.RecvBufferSize = 1 + data[0] * 3;
  session.ReadTimeout = 1000;
  session.AttachSocket(pair[0]);
  std::string raw;
  bool kept = false;
  bool failed = false;
  try {
    kept = session.RetrieveRaw(1, raw);
  } catch (const std::exception&) {
    failed = true;
  }
  close(pair[1]);

  // Compared only for a plain "+OK" status line the whole answer was sent for.
  const auto status = bytes.find('\n');
  if (sent != bytes.size() || status == std::string_view::npos || status > 200 ||
      !bytes.starts_with("+OK") || (status > 3 && bytes[3] != ' ' && bytes[3] != '\r') ||
      bytes.substr(0, status).find('\r') < status - 1)
    return 0;
  std::string want;
  const bool ends = Expected(bytes.substr(status + 1), want);
  if (ends != (kept && !failed) || (ends && raw != want))
    __builtin_trap();
  return 0;
}
