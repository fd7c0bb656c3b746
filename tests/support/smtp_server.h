#pragma once
// A real SMTP server (Debian python3-aiosmtpd) on a free loopback port for
// integration tests: AUTH LOGIN offered without TLS, every received message
// saved to a folder with its envelope.

#include <string>
#include <vector>

#include "support/process.h"

namespace pelorix::test {

class TAioSmtpServer {
 public:
  struct TReceived {
    std::string MailFrom;
    std::vector<std::string> RcptTos;
    std::string Login;    // the AUTH LOGIN name, empty without login
    std::string Content;  // the message as received (dot-unstuffed, CR LF kept)
  };

  // Empty when the server can run here; otherwise why not.
  static std::string SkipReason();

  // With a user name, AUTH LOGIN accepts exactly that user and password.
  explicit TAioSmtpServer(std::string user = {}, std::string password = {});
  ~TAioSmtpServer();
  TAioSmtpServer(const TAioSmtpServer&) = delete;
  TAioSmtpServer& operator=(const TAioSmtpServer&) = delete;

  // TLS with this certificate and key (PEM files): STARTTLS offered (AUTH
  // then only after it), or with `implicit` TLS from the first byte. Call
  // before Start.
  void EnableTls(const std::string& cert, const std::string& key, bool implicit);
  // XOAUTH2 and OAUTHBEARER as well, the tokens checked against an RFC 7662
  // introspection endpoint whose "username" must be the login. Before Start.
  void EnableOAuth2(const std::string& introspectionUrl);
  void Start();
  void Stop();
  int Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

  // Messages received so far, in order.
  std::vector<TReceived> Received() const;
  std::string Log() const;

 private:
  TTempFolder temp_{"pelorix-smtp"};
  TChildProcess process_;
  std::string user_;
  std::string password_;
  int port_ = 0;
  std::string tlsMode_, tlsCert_, tlsKey_;
  std::string introspectionUrl_;
};

}  // namespace pelorix::test
