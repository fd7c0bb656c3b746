// Line framing and reply parsing over arbitrary server bytes: the generic
// reply reader, the POP3 session's commands and multi-line answers.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "mime/mail_message.h"
#include "net/errors.h"
#include "net/line_connection.h"
#include "net/pop3_session.h"

namespace {

// Feeds the bytes through a socket pair whose server side then stops
// writing, so every read ends in data or the peer's close.
bool Feed(pelorix::TLineConnection& client, const std::uint8_t* data, std::size_t size,
          int& server) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    return false;
  }
  const int buffer = 1 << 20;
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  setsockopt(pair[0], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  std::size_t sent = 0;
  while (sent < size) {
    const ssize_t n = send(pair[1], data + sent, size - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n <= 0) {
      break;  // the rest does not fit; what was sent is enough
    }
    sent += static_cast<std::size_t>(n);
  }
  shutdown(pair[1], SHUT_WR);
  client.AttachSocket(pair[0]);
  server = pair[1];
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 256 * 1024) {
    return 0;
  }
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  int server = -1;
  if ((mode & 1) == 0) {
    pelorix::TLineClient client;
    client.MaxLineLength = 64 + (mode >> 2) * 16;
    client.MaxLineAction =
        (mode & 2) != 0 ? pelorix::TMaxLineAction::Split : pelorix::TMaxLineAction::Exception;
    client.RecvBufferSize = 1 + (mode >> 4) * 7;
    if (!Feed(client, data, size, server)) {
      return 0;
    }
    for (int i = 0; i < 10000; ++i) {
      try {
        client.ReadReply();
        (void)client.LastReply.FormattedText();
      } catch (const std::exception&) {
        break;
      }
    }
  } else {
    pelorix::TPop3Session session;
    pelorix::TMailMessage msg;
    session.RecvBufferSize = 1 + (mode >> 1) * 13;
    if (!Feed(session, data, size, server)) {
      return 0;
    }
    for (int step = 0; step < 64; ++step) {
      try {
        switch (step % 6) {
          case 0:
            session.MessageCount();
            break;
          case 1:
            session.MailboxSize();
            break;
          case 2:
            session.MessageSize(1);
            break;
          case 3:
            msg.Clear();
            session.FetchHeader(1, msg);
            break;
          case 4:
            msg.Clear();
            session.FetchMessage(2, msg);
            break;
          case 5:
            session.DeleteMessage(1);
            break;
        }
      } catch (const pelorix::EConnectionError&) {
        break;
      } catch (const std::exception&) {
        // Reply errors leave the session usable: go on with the next command.
      }
    }
  }
  close(server);
  return 0;
}
