#pragma once
// OAuth accounts: which provider an account signs in with (key AccountOAuth,
// value name the account key, data the provider id), its tokens (refresh
// and access token in the keyring, names "oauth-refresh:" / "oauth-access:"
// and the account key; without a keyring scrambled in key OAuthTokens) and
// when the access token ends (key OAuthTokens, text value "expires:" key).

#include <string>
#include <string_view>
#include <vector>

#include "store/accounts.h"
#include "store/settings_store.h"

namespace pelorix {

inline constexpr std::string_view kAccountOAuthKey = "AccountOAuth";
inline constexpr std::string_view kOAuthTokensKey = "OAuthTokens";

// Empty when the account signs in with a password.
std::string ReadAccountOAuthProvider(TSettingsStore& store, std::string_view accountKey);
// An empty id removes the value.
bool WriteAccountOAuthProvider(TSettingsStore& store, std::string_view accountKey,
                               std::string_view providerId);

struct TStoredTokens {
  std::string Refresh;
  std::string Access;
  long long ExpiresAt = 0;
  std::string Problem;  // why they could not be read
};
TStoredTokens ReadOAuthTokens(TSettingsStore& store, std::string_view accountKey);
bool WriteOAuthTokens(TSettingsStore& store, std::string_view accountKey,
                      const TStoredTokens& tokens);
void RemoveOAuthTokens(TSettingsStore& store, std::string_view accountKey);

// The line that tells the user to sign in again, with the command that does it.
std::string SignInAgainText(std::string_view accountKey, std::string_view cause);

// The access token an OAuth account logs in with, refreshed first when it
// is near its end (now: seconds since the epoch). When none can be had,
// Problem says so ("需要重新登录", the cause and the fix). The refresh is a
// network round trip: callers run it off the window thread.
struct TAccessToken {
  std::string Token;
  std::string Problem;
};
TAccessToken FreshAccessToken(TSettingsStore& store, std::string_view accountKey, long long now);

}  // namespace pelorix
