#include "store/smtp_secret.h"

#include "store/mail_plan.h"
#include "store/secret_store.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

constexpr std::string_view kPasswordName = "password";

bool InKeyring(TSettingsStore& store) {
  TSettingsKey refs;
  return OpenSettingsKey(store, kSecretsKey, false, refs) &&
         ascii::EqualNoCase(ReadTextValue(refs, kSmtpSecretName, ""), kKeyringReference);
}

}  // namespace

std::string ReadSmtpPassword(TSettingsStore& store, std::string* problem) {
  if (!InKeyring(store)) {
    TSettingsKey key;
    return OpenSettingsKey(store, kSmtpKey, false, key) ? ReadTextValue(key, kPasswordName, "")
                                                        : std::string();
  }
  std::string why;
  TSecretBackend* keyring = store.Keyring();
  if (!keyring) {
    why = "密钥环不可用，无法读取发信密码 (" + store.KeyringMissingReason() + ")";
  } else if (const TSecretLookup found = keyring->Lookup(kSmtpSecretName); !found.Ok) {
    why = "无法从密钥环读取发信密码: " + found.Error;
  } else if (!found.Secret) {
    why = "密钥环中没有发信密码";
  } else {
    return *found.Secret;
  }
  if (problem)
    *problem = why;
  return {};
}

bool WriteSmtpPassword(TSettingsStore& store, std::string_view password) {
  TSecretBackend* keyring = store.Keyring();
  const bool toKeyring =
      keyring && !password.empty() && keyring->Store(kSmtpSecretName, password, nullptr);
  bool opened = false;
  const bool ok = store.Write([&] {
    TSettingsKey key, refs;
    if (!OpenSettingsKey(store, kSmtpKey, true, key) ||
        !OpenSettingsKey(store, kSecretsKey, true, refs)) {
      return;
    }
    opened = true;
    WriteTextValue(key, kPasswordName, toKeyring ? std::string_view() : password);
    if (toKeyring)
      WriteTextValue(refs, kSmtpSecretName, kKeyringReference);
    else
      store.DeleteValue(refs, kSmtpSecretName);
  });
  if (ok && opened && keyring && !toKeyring)
    keyring->Clear(kSmtpSecretName, nullptr);
  return ok && opened;
}

bool MoveSmtpPasswordToKeyring(TSettingsStore& store) {
  if (!store.Keyring() || InKeyring(store))
    return false;
  TSettingsKey key;
  if (!OpenSettingsKey(store, kSmtpKey, false, key))
    return false;
  const std::string password = ReadTextValue(key, kPasswordName, "");
  return !password.empty() && WriteSmtpPassword(store, password) && InKeyring(store);
}

}  // namespace pelorix
