#include "store/connection_security.h"

#include "store/mail_plan.h"
#include "text/asciiutil.h"

namespace pelorix {

namespace {

constexpr std::string_view kModes[] = {"auto", "tls", "starttls", "none"};
constexpr std::string_view kLogins[] = {"user", "apop", "plain", "login", "xoauth2", "oauthbearer"};

template <std::size_t N>
std::optional<std::string> NameIn(const std::string_view (&names)[N], std::string_view text,
                                  std::size_t first = 0) {
  text = ascii::Trim(text);
  for (std::size_t i = first; i < N; ++i) {
    if (ascii::EqualNoCase(text, names[i])) {
      return std::string(names[i]);
    }
  }
  return std::nullopt;
}

std::string Find(const std::vector<std::pair<std::string, std::string>>& values,
                 std::string_view name) {
  for (const auto& [key, data] : values) {
    if (ascii::EqualNoCase(key, name)) {
      return data;
    }
  }
  return {};
}

std::vector<std::pair<std::string, std::string>> ReadAll(TSettingsStore& store,
                                                         std::string_view path) {
  std::vector<std::pair<std::string, std::string>> values;
  TSettingsKey key;
  if (!OpenSettingsKey(store, path, false, key)) {
    return values;
  }
  for (const auto& name : store.EnumValueNames(key)) {
    values.emplace_back(name, ReadTextValue(key, name, ""));
  }
  return values;
}

bool WriteText(TSettingsStore& store, std::string_view path, std::string_view name,
               std::string_view data) {
  TSettingsKey key;
  if (!OpenSettingsKey(store, path, true, key)) {
    return false;
  }
  return store.Write([&] { WriteTextValue(key, name, data); });
}

bool DeleteValue(TSettingsStore& store, std::string_view path, std::string_view name) {
  TSettingsKey key;
  TSettingsValue value;
  if (!OpenSettingsKey(store, path, false, key) || !store.ReadValue(key, name, value)) {
    return false;
  }
  return store.DeleteValue(key, name);
}

}  // namespace

std::optional<std::string> SecurityModeName(std::string_view text) {
  return NameIn(kModes, text);
}

std::optional<std::string> LoginMethodName(std::string_view text) {
  return NameIn(kLogins, text);
}

std::optional<std::string> SmtpMechanismName(std::string_view text) {
  return NameIn(kLogins, text, 2);
}

std::string TConnectionPolicy::SecretProblemOf(std::string_view accountKey) const {
  return Find(SecretProblems, accountKey);
}

std::string TConnectionPolicy::LoginOf(std::string_view accountKey) const {
  return LoginMethodName(Find(Logins, accountKey)).value_or(std::string(kDefaultLogin));
}

std::string TConnectionPolicy::ModeOf(std::string_view accountKey) const {
  return SecurityModeName(Find(Modes, accountKey)).value_or(std::string(kDefaultSecurity));
}

std::string TConnectionPolicy::PinOf(std::string_view hostPort) const {
  return Find(Pins, hostPort);
}

std::optional<TImapAccountSettings> TConnectionPolicy::ImapOf(std::string_view accountKey) const {
  for (const auto& [key, data] : Imap) {
    if (ascii::EqualNoCase(key, accountKey))
      return DecodeImapSettings(data);
  }
  return std::nullopt;
}

TConnectionPolicy LoadConnectionPolicy(TSettingsStore& store) {
  TConnectionPolicy policy;
  store.Read([&] {
    policy.Modes = ReadAll(store, kAccountSecurityKey);
    policy.Pins = ReadAll(store, kTrustedCertsKey);
    policy.Imap = ReadAll(store, kAccountImapKey);
    policy.Logins = ReadAll(store, kAccountAuthKey);
  });
  return policy;
}

std::string ReadAccountSecurity(TSettingsStore& store, std::string_view accountKey) {
  TConnectionPolicy policy;
  policy.Modes = ReadAll(store, kAccountSecurityKey);
  return policy.ModeOf(accountKey);
}

bool WriteAccountSecurity(TSettingsStore& store, std::string_view accountKey,
                          std::string_view mode) {
  const auto name = SecurityModeName(mode);
  if (!name) {
    return false;
  }
  if (*name == kDefaultSecurity) {
    DeleteValue(store, kAccountSecurityKey, accountKey);
    return ReadAccountSecurity(store, accountKey) == kDefaultSecurity;
  }
  return WriteText(store, kAccountSecurityKey, accountKey, *name);
}

std::string ReadAccountLogin(TSettingsStore& store, std::string_view accountKey) {
  TConnectionPolicy policy;
  policy.Logins = ReadAll(store, kAccountAuthKey);
  return policy.LoginOf(accountKey);
}

bool WriteAccountLogin(TSettingsStore& store, std::string_view accountKey,
                       std::string_view method) {
  const auto name = LoginMethodName(method);
  if (!name) {
    return false;
  }
  if (*name == kDefaultLogin) {
    DeleteValue(store, kAccountAuthKey, accountKey);
    return ReadAccountLogin(store, accountKey) == kDefaultLogin;
  }
  return WriteText(store, kAccountAuthKey, accountKey, *name);
}

std::string ReadSmtpMechanism(TSettingsStore& store) {
  TSettingsKey key;
  if (!OpenSettingsKey(store, kSmtpKey, false, key)) {
    return std::string(kDefaultSmtpMechanism);
  }
  return SmtpMechanismName(ReadTextValue(key, kSmtpMechanismName, kDefaultSmtpMechanism))
      .value_or(std::string(kDefaultSmtpMechanism));
}

bool WriteSmtpMechanism(TSettingsStore& store, std::string_view mechanism) {
  const auto name = SmtpMechanismName(mechanism);
  return name && WriteText(store, kSmtpKey, kSmtpMechanismName, *name);
}

std::string ReadSmtpSecurity(TSettingsStore& store) {
  TSettingsKey key;
  if (!OpenSettingsKey(store, kSmtpKey, false, key)) {
    return std::string(kDefaultSecurity);
  }
  return SecurityModeName(ReadTextValue(key, kSmtpSecurityName, kDefaultSecurity))
      .value_or(std::string(kDefaultSecurity));
}

bool WriteSmtpSecurity(TSettingsStore& store, std::string_view mode) {
  const auto name = SecurityModeName(mode);
  return name && WriteText(store, kSmtpKey, kSmtpSecurityName, *name);
}

std::string ReadTrustedCert(TSettingsStore& store, std::string_view hostPort) {
  return Find(ReadAll(store, kTrustedCertsKey), hostPort);
}

bool WriteTrustedCert(TSettingsStore& store, std::string_view hostPort,
                      std::string_view fingerprint) {
  return WriteText(store, kTrustedCertsKey, hostPort, fingerprint);
}

bool DeleteTrustedCert(TSettingsStore& store, std::string_view hostPort) {
  return DeleteValue(store, kTrustedCertsKey, hostPort);
}

}  // namespace pelorix
