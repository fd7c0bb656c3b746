#pragma once
// OAuth 2.0 for mail accounts: the provider table, authorization code with
// PKCE (RFC 7636) through a loopback redirect (RFC 8252), the device
// authorization grant (RFC 8628), token refresh and revocation (RFC 7009),
// over libcurl.
//
// Client IDs are build settings (PELORIX_GMAIL_CLIENT_ID,
// PELORIX_OUTLOOK_CLIENT_ID); the key OAuth\<provider> overrides them and,
// for "custom", holds the endpoints the user typed.

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/settings_store.h"

namespace pelorix {

inline constexpr std::string_view kOAuthKey = "OAuth";

struct TOAuthProvider {
  std::string Id;  // "gmail", "outlook", "custom"
  std::string Caption;
  std::string AuthorizationEndpoint;
  std::string TokenEndpoint;
  std::string DeviceEndpoint;      // empty: no device grant
  std::string RevocationEndpoint;  // empty: tokens cannot be revoked
  std::string Scope;               // space separated
  std::string ClientId;
  std::string ClientSecret;  // some providers want one even for desktop programs
  // The server settings that come with the provider.
  std::string Pop3Server;  // host:port
  std::string Pop3Security;
  std::string SmtpServer;
  std::string SmtpPort;
  std::string SmtpSecurity;
  std::string Mechanism;  // SASL mechanism: "xoauth2" or "oauthbearer"
};

// Gmail, Outlook.com / Microsoft 365 and the empty custom entry, with the
// build's client IDs.
std::vector<TOAuthProvider> BuiltInOAuthProviders();
// The provider with the user's overrides (ClientId, ClientSecret and, for
// custom, AuthorizationEndpoint, TokenEndpoint, DeviceEndpoint,
// RevocationEndpoint, Scope).
std::optional<TOAuthProvider> FindOAuthProvider(TSettingsStore& store, std::string_view id);
// What to register and where to type it, when the provider has no client ID.
std::string MissingClientIdHint(const TOAuthProvider& provider);

// RFC 7636: a 43-character verifier and its S256 challenge.
struct TPkce {
  std::string Verifier;
  std::string Challenge;
};
TPkce MakePkce();
std::string PkceS256(std::string_view verifier);
// `bytes` random bytes, base64url without padding (state, verifier).
std::string RandomUrlToken(std::size_t bytes);

// application/x-www-form-urlencoded escaping and its inverse.
std::string FormEncode(std::string_view text);
std::string FormDecode(std::string_view text);

std::string AuthorizationUrl(const TOAuthProvider& provider, std::string_view redirectUri,
                             std::string_view state, std::string_view challenge,
                             std::string_view loginHint = {});

// What the browser brought back to the loopback address.
struct TRedirectResult {
  std::string Code;   // set on success
  std::string Error;  // why not ("access_denied: ...", "state mismatch")
};
// The request target of the redirect ("/?code=...&state=...").
TRedirectResult ParseRedirectTarget(std::string_view target, std::string_view expectedState);

// One listening socket on 127.0.0.1 with a free port, serving one request.
class TLoopbackRedirect {
 public:
  TLoopbackRedirect() = default;
  ~TLoopbackRedirect();
  TLoopbackRedirect(const TLoopbackRedirect&) = delete;
  TLoopbackRedirect& operator=(const TLoopbackRedirect&) = delete;

  bool Listen(std::string* error = nullptr);
  int Port() const { return port_; }
  // "http://127.0.0.1:<port>/"
  std::string RedirectUri() const;
  // Waits up to timeoutMs for the browser's request, answers it with a short
  // page and closes; the result names the failure when there was no code.
  // A set `cancel` ends the wait within a fraction of a second.
  TRedirectResult Wait(std::string_view expectedState, int timeoutMs,
                       const std::atomic<bool>* cancel = nullptr);

 private:
  int fd_ = -1;
  int port_ = 0;
};

struct TTokenAnswer {
  bool Ok = false;
  std::string AccessToken;
  std::string RefreshToken;  // empty when the server kept the old one
  long long ExpiresAt = 0;   // seconds since the epoch, 0 when not said
  std::string Error;         // "invalid_grant", "authorization_pending", a transport error
  std::string ErrorDescription;
  // The error, with its description, for the user's line.
  std::string Cause() const;
};

// `now` is the current time (seconds since the epoch) for ExpiresAt.
TTokenAnswer ExchangeAuthorizationCode(const TOAuthProvider& provider, std::string_view code,
                                       std::string_view verifier, std::string_view redirectUri,
                                       long long now);
TTokenAnswer RefreshAccessToken(const TOAuthProvider& provider, std::string_view refreshToken,
                                long long now);
// False (with the cause) when the provider has no revocation endpoint or refused.
bool RevokeToken(const TOAuthProvider& provider, std::string_view token, std::string* error);

// RFC 8628 3.1/3.2.
struct TDeviceAuthorization {
  bool Ok = false;
  std::string DeviceCode;
  std::string UserCode;
  std::string VerificationUri;
  std::string VerificationUriComplete;  // with the code in it, when the server offers one
  int IntervalSeconds = 5;
  long long ExpiresAt = 0;
  std::string Error;
};
TDeviceAuthorization StartDeviceAuthorization(const TOAuthProvider& provider, long long now);
// One poll: Error "authorization_pending" or "slow_down" means ask again later.
TTokenAnswer PollDeviceToken(const TOAuthProvider& provider, std::string_view deviceCode,
                             long long now);

// Whether a token that ends at expiresAt is to be refreshed before use.
bool TokenNearExpiry(long long expiresAt, long long now);

}  // namespace pelorix
