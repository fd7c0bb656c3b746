#include "store/oauth_account.h"

#include "store/oauth.h"
#include "store/secret_store.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

std::string RefreshName(std::string_view key) {
  return "oauth-refresh:" + std::string(key);
}
std::string AccessName(std::string_view key) {
  return "oauth-access:" + std::string(key);
}
std::string ExpiryName(std::string_view key) {
  return "expires:" + std::string(key);
}

// Without a keyring: scrambled bytes in a binary value (tokens outgrow
// the 255 bytes of a text value).
std::string Scramble(std::string_view bytes) {
  std::string out(bytes);
  for (char& c : out)
    c = static_cast<char>(~static_cast<unsigned char>(c));
  return out;
}

bool FileHolds(TSettingsStore& store, std::string_view name, std::string& value) {
  TSettingsKey key;
  TSettingsValue v;
  if (!OpenSettingsKey(store, kOAuthTokensKey, false, key) || !store.ReadValue(key, name, v) ||
      v.type != TValueType::Binary)
    return false;
  value = Scramble(v.data);
  return true;
}

}  // namespace

std::string ReadAccountOAuthProvider(TSettingsStore& store, std::string_view accountKey) {
  TSettingsKey key;
  if (!OpenSettingsKey(store, kAccountOAuthKey, false, key))
    return {};
  return std::string(ascii::Trim(ReadTextValue(key, accountKey, "")));
}

bool WriteAccountOAuthProvider(TSettingsStore& store, std::string_view accountKey,
                               std::string_view providerId) {
  TSettingsKey key;
  if (!OpenSettingsKey(store, kAccountOAuthKey, true, key))
    return false;
  return store.Write([&] {
    if (providerId.empty())
      store.DeleteValue(key, accountKey);
    else
      WriteTextValue(key, accountKey, providerId);
  });
}

TStoredTokens ReadOAuthTokens(TSettingsStore& store, std::string_view accountKey) {
  TStoredTokens tokens;
  TSettingsKey key;
  if (OpenSettingsKey(store, kOAuthTokensKey, false, key)) {
    const std::string expires = ReadTextValue(key, ExpiryName(accountKey), "0");
    tokens.ExpiresAt = std::strtoll(expires.c_str(), nullptr, 10);
  }
  if (FileHolds(store, RefreshName(accountKey), tokens.Refresh)) {
    FileHolds(store, AccessName(accountKey), tokens.Access);
    return tokens;
  }
  TSecretBackend* keyring = store.Keyring();
  if (!keyring) {
    return tokens;
  }
  const TSecretLookup refresh = keyring->Lookup(RefreshName(accountKey));
  if (!refresh.Ok) {
    tokens.Problem = "无法从密钥环读取登录令牌: " + refresh.Error;
    return tokens;
  }
  tokens.Refresh = refresh.Secret.value_or("");
  tokens.Access = keyring->Lookup(AccessName(accountKey)).Secret.value_or("");
  return tokens;
}

bool WriteOAuthTokens(TSettingsStore& store, std::string_view accountKey,
                      const TStoredTokens& tokens) {
  TSecretBackend* keyring = store.Keyring();
  const bool inKeyring = keyring &&
                         keyring->Store(RefreshName(accountKey), tokens.Refresh, nullptr) &&
                         keyring->Store(AccessName(accountKey), tokens.Access, nullptr);
  TSettingsKey key;
  if (!OpenSettingsKey(store, kOAuthTokensKey, true, key))
    return false;
  return store.Write([&] {
    WriteTextValue(key, ExpiryName(accountKey), std::to_string(tokens.ExpiresAt));
    if (inKeyring) {
      store.DeleteValue(key, RefreshName(accountKey));
      store.DeleteValue(key, AccessName(accountKey));
    } else {
      store.WriteValue(key, RefreshName(accountKey), TValueType::Binary, Scramble(tokens.Refresh));
      store.WriteValue(key, AccessName(accountKey), TValueType::Binary, Scramble(tokens.Access));
    }
  });
}

void RemoveOAuthTokens(TSettingsStore& store, std::string_view accountKey) {
  if (TSecretBackend* keyring = store.Keyring()) {
    keyring->Clear(RefreshName(accountKey), nullptr);
    keyring->Clear(AccessName(accountKey), nullptr);
  }
  TSettingsKey key;
  if (!OpenSettingsKey(store, kOAuthTokensKey, false, key))
    return;
  store.Write([&] {
    for (const std::string& name :
         {RefreshName(accountKey), AccessName(accountKey), ExpiryName(accountKey)})
      store.DeleteValue(key, name);
  });
}

std::string SignInAgainText(std::string_view accountKey, std::string_view cause) {
  return "需要重新登录 (" + std::string(cause) + ")：请运行 pelorix account login " +
         std::string(accountKey) + "，或在设置窗口中按“登录…”";
}

TAccessToken FreshAccessToken(TSettingsStore& store, std::string_view accountKey, long long now) {
  TAccessToken result;
  const std::string key(accountKey);
  const std::string providerId = ReadAccountOAuthProvider(store, key);
  const auto provider = FindOAuthProvider(store, providerId);
  if (!provider) {
    result.Problem = SignInAgainText(key, "unknown provider " + providerId);
    return result;
  }
  TStoredTokens tokens = ReadOAuthTokens(store, key);
  if (!tokens.Problem.empty()) {
    result.Problem = tokens.Problem;
    return result;
  }
  if (tokens.Refresh.empty()) {
    result.Problem = SignInAgainText(key, "not signed in");
    return result;
  }
  if (!tokens.Access.empty() && !TokenNearExpiry(tokens.ExpiresAt, now)) {
    result.Token = tokens.Access;
    return result;
  }
  const TTokenAnswer fresh = RefreshAccessToken(*provider, tokens.Refresh, now);
  if (!fresh.Ok) {
    result.Problem = SignInAgainText(key, fresh.Cause());
    return result;
  }
  tokens.Access = fresh.AccessToken;
  tokens.ExpiresAt = fresh.ExpiresAt;
  if (!fresh.RefreshToken.empty())
    tokens.Refresh = fresh.RefreshToken;
  WriteOAuthTokens(store, key, tokens);
  result.Token = tokens.Access;
  return result;
}

}  // namespace pelorix
