// SASL exchanges over arbitrary server bytes: POP3 AUTH and SMTP AUTH with
// each mechanism, the OAuth error payload decoder and the base64 pair.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "net/pop3_session.h"
#include "net/sasl.h"
#include "net/smtp_client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 64 * 1024) {
    return 0;
  }
  const std::uint8_t selector = data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  if (const auto payload = pelorix::ParseOAuthErrorPayload(bytes)) {
    (void)pelorix::DescribeOAuthError(*payload);
  }
  if (const auto decoded = pelorix::SaslUnbase64(bytes)) {
    if (pelorix::SaslBase64(*decoded) != bytes) {
      __builtin_trap();  // strict decoding accepts only what encoding gives
    }
  }

  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    return 0;
  }
  const int buffer = 1 << 20;
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  setsockopt(pair[0], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  (void)send(pair[1], bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  shutdown(pair[1], SHUT_WR);
  const auto mechanism = static_cast<pelorix::TSaslMechanism>(selector % 4);
  try {
    if (selector & 4) {
      pelorix::TSmtpClient client;
      client.AttachSocket(pair[0]);
      client.Username = "user@example.com";
      client.Password = "token";
      client.AuthenticationType = static_cast<pelorix::TAuthenticationType>(1 + selector % 4);
      client.Login();
    } else {
      pelorix::TPop3Session session;
      session.AttachSocket(pair[0]);
      session.Username = "user@example.com";
      session.Password = "token";
      session.Authenticate(mechanism);
    }
  } catch (const std::exception&) {
    // Refusals and broken answers are fine; crashes, hangs and leaks are not.
  }
  close(pair[1]);
  return 0;
}
