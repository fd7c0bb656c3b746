#pragma once
// Connection security: the mode of each POP3 account (key AccountSecurity,
// value name the account key user "[" server "]", data the mode), the mode
// of the SMTP server (text value Security of key Smtp) and the certificates
// the user trusts (key TrustedCerts, value name host ":" port, data the
// SHA-256 fingerprint). No value means "auto"; the Account values and the
// file names derived from them never change. The login method of each POP3
// account lives beside the mode (key AccountAuth, same value names), that
// of the SMTP server in the text value authMechanism of key Smtp.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/account_imap.h"
#include "store/settings_store.h"

namespace pelorix {

inline constexpr std::string_view kAccountSecurityKey = "AccountSecurity";
inline constexpr std::string_view kTrustedCertsKey = "TrustedCerts";
inline constexpr std::string_view kSmtpSecurityName = "Security";
inline constexpr std::string_view kDefaultSecurity = "auto";
inline constexpr std::string_view kAccountAuthKey = "AccountAuth";
inline constexpr std::string_view kSmtpMechanismName = "authMechanism";
// USER/PASS, the login of a POP3 account without a stored method.
inline constexpr std::string_view kDefaultLogin = "user";
// SMTP's default once authType asks for a login.
inline constexpr std::string_view kDefaultSmtpMechanism = "login";

// "auto", "tls", "starttls" or "none" (any case, trimmed) in lower case.
std::optional<std::string> SecurityModeName(std::string_view text);

// POP3: "user", "apop", "plain", "login", "xoauth2" or "oauthbearer";
// SMTP: the same but "user" and "apop". Any case, trimmed; lower case.
std::optional<std::string> LoginMethodName(std::string_view text);
std::optional<std::string> SmtpMechanismName(std::string_view text);

// What a run reads once at its start; names compare without regard to case.
struct TConnectionPolicy {
  std::vector<std::pair<std::string, std::string>> Modes;   // account key, mode
  std::vector<std::pair<std::string, std::string>> Pins;    // host:port, fingerprint
  std::vector<std::pair<std::string, std::string>> Imap;    // account key, IMAP settings
  std::vector<std::pair<std::string, std::string>> Logins;  // account key, login method
  // The stored login method, or "user".
  std::string LoginOf(std::string_view accountKey) const;
  // Accounts whose password the keyring could not give (account key, why),
  // filled by whoever builds the run's queue.
  std::vector<std::pair<std::string, std::string>> SecretProblems;
  std::string SecretProblemOf(std::string_view accountKey) const;
  // The stored mode, or "auto" when there is none or it is not a mode.
  std::string ModeOf(std::string_view accountKey) const;
  // The pinned fingerprint, or empty.
  std::string PinOf(std::string_view hostPort) const;
  // The account's IMAP settings; nothing for a POP3 account.
  std::optional<TImapAccountSettings> ImapOf(std::string_view accountKey) const;
};
TConnectionPolicy LoadConnectionPolicy(TSettingsStore& store);

std::string ReadAccountSecurity(TSettingsStore& store, std::string_view accountKey);
// "auto" removes the value. False when the mode is unknown or the write failed.
bool WriteAccountSecurity(TSettingsStore& store, std::string_view accountKey,
                          std::string_view mode);

std::string ReadAccountLogin(TSettingsStore& store, std::string_view accountKey);
// "user" removes the value. False when the method is unknown or the write failed.
bool WriteAccountLogin(TSettingsStore& store, std::string_view accountKey, std::string_view method);

// "login" when none or no mechanism is stored.
std::string ReadSmtpMechanism(TSettingsStore& store);
bool WriteSmtpMechanism(TSettingsStore& store, std::string_view mechanism);

std::string ReadSmtpSecurity(TSettingsStore& store);
bool WriteSmtpSecurity(TSettingsStore& store, std::string_view mode);

// Empty when nothing is pinned for host:port.
std::string ReadTrustedCert(TSettingsStore& store, std::string_view hostPort);
bool WriteTrustedCert(TSettingsStore& store, std::string_view hostPort,
                      std::string_view fingerprint);
// False when nothing was pinned.
bool DeleteTrustedCert(TSettingsStore& store, std::string_view hostPort);

}  // namespace pelorix
