#pragma once
// The POP3 mailbox accounts (key Account): one text value per account, named
// user "{" position "}", holding server "[" scrambled password "]" note.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/settings_store.h"

namespace pelorix {

inline constexpr std::string_view kAccountKey = "Account";

struct TAccount {
  std::string Server;
  std::string User;
  std::string Password;
  std::string Note;
  // Why the password could not be read from the keyring (then Password is
  // empty and saving keeps the keyring's item as it is).
  std::string SecretProblem = {};
};

// Trims, then replaces every byte by its complement; its own inverse on
// trimmed text. Works on the on-disk (GB18030) bytes.
std::string ScramblePassword(std::string_view bytes);

// In registry order. An unreadable key gives an empty list. Passwords kept
// in the keyring are read from it; a failed read costs only its account.
std::vector<TAccount> LoadAccounts(TSettingsStore& store);
// Deletes and re-creates the key, one value per account in list order, all
// in one transaction. Fails (changing nothing) if any account is refused.
// With a keyring the passwords go there and the values keep "[]" and a
// reference (key Secrets); without one, or when the keyring refuses an
// item, the password is stored scrambled as before.
bool SaveAccounts(TSettingsStore& store, const std::vector<TAccount>& accounts,
                  std::string* error = nullptr);

// Why the account cannot be stored, or nothing. Server, user and password
// are required unless `allowEmptyPassword` (imported accounts have none).
std::optional<std::string> CheckAccount(const TAccount& account, bool allowEmptyPassword = false);

// Adds with the settings window's rule: fields trimmed, a row with the same
// server and user is replaced, the new row goes to the end, the list is kept
// sorted by server. Returns false with the reason when refused.
bool AddAccount(std::vector<TAccount>& accounts, TAccount account, std::string* error = nullptr,
                bool allowEmptyPassword = false);
// Adds an account taken from another mail program (no password): an
// account already in the list keeps the password typed for it.
bool AddImportedAccount(std::vector<TAccount>& accounts, TAccount imported,
                        std::string* error = nullptr);
// Moves passwords still kept in the settings file (the accounts' and the
// SMTP one) into the keyring, when there is one. Returns how many moved.
int MoveSecretsToKeyring(TSettingsStore& store);

// Whether the row has this server and user (trimmed, exact).
bool IsSameAccount(const TAccount& account, std::string_view server, std::string_view user);
// Removes the row with this server and user (trimmed, exact). False if none.
bool RemoveAccount(std::vector<TAccount>& accounts, std::string_view server, std::string_view user);

// user "[" server "]"
std::string AccountKey(const TAccount& account);
// user "2" server: base name of the account's record files.
std::string AccountFileName(const TAccount& account);
// server "|" user "|" password: an entry of the check and deletion queues.
std::string AccountQueueEntry(const TAccount& account);
// The note, or the account key when the note is empty, made unique by
// appending "[n]" for n = 1, 2, ... while it clashes (suffixes accumulate).
std::vector<std::string> AccountDisplayNames(const std::vector<TAccount>& accounts);

// The POP3 accounts of one Thunderbird profile folder (its prefs.js):
// hostname (":port" when not 110), userName, name as note, no password.
// With `imap`, its IMAP accounts instead (":port" when not 143).
std::vector<TAccount> ReadThunderbirdAccounts(const std::filesystem::path& profileFolder,
                                              bool imap = false);
// Profile folders that hold a prefs.js, below ~/.thunderbird and the Snap
// and Flatpak equivalents.
std::vector<std::filesystem::path> FindThunderbirdProfiles();

}  // namespace pelorix
