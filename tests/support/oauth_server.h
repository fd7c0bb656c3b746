#pragma once
// A small OAuth 2.0 authorization server on a free loopback port, for tests
// (Python's http.server): authorization endpoint that approves at once and
// redirects, token endpoint with PKCE (S256) checking, refresh, expiry and
// revocation, the device grant and an RFC 7662 introspection endpoint.
//
//   TOAuthServer server("client-1", "alice@example.com", 3600);
//   server.Start();
//   ... endpoints at server.Url("/authorize") ...

#include <string>

#include "support/process.h"

namespace pelorix::test {

class TOAuthServer {
 public:
  static std::string SkipReason();

  // Tokens are issued to `client` for `user` and live `lifetime` seconds.
  TOAuthServer(std::string client, std::string user, int lifetime = 3600);
  ~TOAuthServer();
  TOAuthServer(const TOAuthServer&) = delete;
  TOAuthServer& operator=(const TOAuthServer&) = delete;

  void Start();
  void Stop();
  // "http://127.0.0.1:<port>" + path
  std::string Url(const std::string& path) const;
  int Port() const { return port_; }
  std::string Log() const;

  // A live access token for the user, without a sign-in (GET /issue): for
  // tests of the mail servers that check tokens.
  std::string IssueAccessToken() const;

  // A GET as a browser makes it, following redirects (also to the
  // program's loopback address); the final body, or empty on failure.
  static std::string BrowserGet(const std::string& url);

 private:
  TTempFolder temp_{"pelorix-oauth"};
  TChildProcess process_;
  std::string client_;
  std::string user_;
  int lifetime_;
  int port_ = 0;
};

}  // namespace pelorix::test
