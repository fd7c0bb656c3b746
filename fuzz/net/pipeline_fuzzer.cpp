// Arbitrary server bytes as the answers to a fetch walk, read once with
// commands sent ahead (pipelined) and once one by one. Without DELEs the
// answers stand in the same order, so every message the pipelined reading
// returns must equal the sequential reading's; a difference traps. With
// DELEs (which change where each answer stands) the walks only run.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

#include "mime/mail_message.h"
#include "net/errors.h"
#include "net/pop3_fetch.h"
#include "net/pop3_session.h"

namespace {

struct TResult {
  std::vector<std::string> Headers, Body;
  bool Fetched = false, Truncated = false;
  std::string Error;  // the type of a failure of this message
  bool operator==(const TResult&) const = default;
};

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
      break;
    }
    sent += static_cast<std::size_t>(n);
  }
  shutdown(pair[1], SHUT_WR);
  client.AttachSocket(pair[0]);
  server = pair[1];
  return true;
}

// Reads the walk; returns the results up to the first broken connection.
std::vector<TResult> Walk(const std::uint8_t* data, std::size_t size, std::uint8_t mode,
                          bool pipelined, bool deletes) {
  pelorix::TPop3Session session;
  session.RecvBufferSize = 1 + (mode & 0x0f) * 9;
  session.ReadTimeout = 1000;
  int server = -1;
  std::vector<TResult> results;
  if (!Feed(session, data, size, server)) {
    return results;
  }
  std::vector<pelorix::TFetchItem> items;
  for (int n = 1; n <= 12; ++n) {
    items.push_back({n, ((mode >> 4) & 1) != 0 && n % 2 == 0, 100});
  }
  pelorix::TPipelineLimits limits;
  limits.MaxCommands = 1 + (mode >> 5);
  pelorix::TPop3Fetcher fetcher(session, items, pipelined, limits);
  pelorix::TMailMessage msg;
  msg.Limits.MaxHeaderBytes = 4096;
  msg.Limits.MaxBodyBytes = 8192;
  try {
    for (int n = 1; n <= 12; ++n) {
      msg.Clear();
      TResult r;
      try {
        r.Fetched = fetcher.Next(msg);
      } catch (const pelorix::EConnectionError&) {
        throw;
      } catch (const std::exception& e) {
        r.Error = typeid(e).name();
      }
      r.Headers = msg.Headers.Lines;
      r.Body = msg.Body;
      r.Truncated = msg.Truncated;
      results.push_back(std::move(r));
      if (deletes && n % 5 == 2) {
        try {
          fetcher.Delete(n);
        } catch (const pelorix::EConnectionError&) {
          throw;
        } catch (const std::exception&) {
          break;  // a refused DELE ends the walk in both readings
        }
      }
    }
    fetcher.Drain();
  } catch (const std::exception&) {
  }
  close(server);
  return results;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > 128 * 1024) {
    return 0;
  }
  const std::uint8_t mode = data[0];
  const bool deletes = (data[1] & 1) != 0;
  const auto sequential = Walk(data + 2, size - 2, mode, false, deletes);
  const auto pipelined = Walk(data + 2, size - 2, mode, true, deletes);
  if (deletes) {
    return 0;
  }
  if (pipelined.size() != sequential.size()) {
    __builtin_trap();
  }
  for (std::size_t i = 0; i < pipelined.size(); ++i) {
    if (!(pipelined[i] == sequential[i])) {
      __builtin_trap();
    }
  }
  return 0;
}
