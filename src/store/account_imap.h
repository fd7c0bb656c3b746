#pragma once
// What an IMAP account adds to its Account value (key AccountImap, value
// name the account key user "[" server "]"): the way "delete" works, then
// the folders to check, joined by "|" ("junk|INBOX|Lists"). An account
// without such a value is a POP3 account, stored exactly as before.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/settings_store.h"

namespace pelorix {

inline constexpr std::string_view kAccountImapKey = "AccountImap";

struct TImapAccountSettings {
  // "auto" (Junk when the server names one, else Trash), "junk", "trash",
  // "expunge" (delete for good).
  std::string DeleteMode = "auto";
  std::vector<std::string> Folders{"INBOX"};
  bool operator==(const TImapAccountSettings&) const = default;
};

// "auto", "junk", "trash" or "expunge" (any case, trimmed) in lower case.
std::optional<std::string> DeleteModeText(std::string_view text);
// Folder names from the user's text: split at "," or "|", trimmed, empty
// ones dropped; INBOX alone when nothing is left.
std::vector<std::string> ParseFolderList(std::string_view text);
std::string FolderListText(const std::vector<std::string>& folders);  // ", " joined

// The value's data (UTF-8; the store converts it on disk).
std::string EncodeImapSettings(const TImapAccountSettings& settings);
TImapAccountSettings DecodeImapSettings(std::string_view data);

// Nothing for a POP3 account.
std::optional<TImapAccountSettings> ReadImapSettings(TSettingsStore& store,
                                                     std::string_view accountKey);
// Nothing makes the account a POP3 account again (the value is removed).
bool WriteImapSettings(TSettingsStore& store, std::string_view accountKey,
                       const std::optional<TImapAccountSettings>& settings);

}  // namespace pelorix
