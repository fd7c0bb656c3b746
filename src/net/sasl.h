#pragma once
// SASL client exchanges shared by POP3 AUTH (RFC 5034), SMTP AUTH (RFC 4954)
// and IMAP AUTHENTICATE: PLAIN (RFC 4616), LOGIN, XOAUTH2 (Google's and
// Microsoft's bearer format) and OAUTHBEARER (RFC 7628). The exchange works
// on decoded bytes; each protocol carries them in base64 its own way.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "net/errors.h"

namespace pelorix {

enum class TSaslMechanism { Plain, Login, XOAuth2, OAuthBearer };

// "PLAIN", "LOGIN", "XOAUTH2", "OAUTHBEARER".
std::string_view SaslMechanismName(TSaslMechanism mechanism);
// Any case, trimmed; nothing for an unknown name.
std::optional<TSaslMechanism> ParseSaslMechanism(std::string_view name);
// XOAUTH2 and OAUTHBEARER carry an access token instead of a password.
bool IsOAuthMechanism(TSaslMechanism mechanism);

// The JSON status a server sends as its last challenge when it refuses an
// OAuth token (RFC 7628 3.2.2; Google's and Microsoft's XOAUTH2 alike).
struct TOAuthErrorPayload {
  std::string Status;  // "invalid_token", "insufficient_scope", "401", ...
  std::string Scope;
  std::string Schemes;
  std::string OpenIdConfiguration;
};
// Nothing when the text is no JSON object with a "status" string. Only the
// top level is looked at; nested values are skipped.
std::optional<TOAuthErrorPayload> ParseOAuthErrorPayload(std::string_view json);
// In plain words: "token expired or revoked (invalid_token)", the scope
// when the server named one.
std::string DescribeOAuthError(const TOAuthErrorPayload& payload);

// A server refused the login. The message is the server's reply text; for
// OAuth mechanisms Cause holds the decoded error payload, in plain words.
class EAuthRefused : public EProtocolReplyError {
 public:
  EAuthRefused(int replyCode, const std::string& text, std::string cause)
      : EProtocolReplyError(replyCode, cause.empty() ? text : text + cause + "\r\n"),
        Cause(std::move(cause)) {}
  std::string Cause;
};

// The server does not offer the account's mechanism; nothing secret has
// been sent.
class EMechanismNotOffered : public EMailError {
 public:
  explicit EMechanismNotOffered(std::string_view mechanism)
      : EMailError("The server does not offer SASL " + std::string(mechanism) + ".") {}
};

// One client side of an exchange. Secret is the password, or the access
// token for the OAuth mechanisms; Host and Port go into OAUTHBEARER.
class TSaslExchange {
 public:
  TSaslExchange(TSaslMechanism mechanism, std::string user, std::string secret,
                std::string host = {}, int port = 0);

  TSaslMechanism Mechanism() const { return mechanism_; }
  // The client's first message, sent with the command where the protocol
  // allows it; LOGIN has none.
  std::optional<std::string> InitialResponse() const;
  // The initial response went out with the command.
  void InitialResponseSent() { sent_ = true; }
  // The answer to a (decoded) server challenge. A challenge after the
  // credentials went out is the OAuth error payload: it is kept and the
  // dummy answer that ends the exchange is returned.
  std::string Respond(std::string_view challenge);
  // What the server's error payload said, in plain words; empty when none.
  const std::string& ErrorCause() const { return errorCause_; }
  // Guards against a server that keeps challenging.
  bool TooManySteps() const { return steps_ > kMaxSteps; }

 private:
  static constexpr int kMaxSteps = 4;
  std::string Credentials() const;

  TSaslMechanism mechanism_;
  std::string user_;
  std::string secret_;
  std::string host_;
  int port_;
  int steps_ = 0;
  bool sent_ = false;  // the credentials have gone out
  std::string errorCause_;
};

// Base64 (RFC 4648, "=" padding) on one line, and its strict inverse:
// nothing for text outside the alphabet or wrongly padded.
std::string SaslBase64(std::string_view bytes);
std::optional<std::string> SaslUnbase64(std::string_view text);

}  // namespace pelorix
