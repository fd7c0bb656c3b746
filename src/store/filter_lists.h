#pragma once
// The five filter lists: registry keys (entries as value names), the list
// files the check workers read, and ".rub" filter files.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/settings_store.h"

namespace pelorix {

enum class TFilterList { Subject, Sender, Length, Content, Recipient };

struct TFilterListInfo {
  TFilterList list;
  std::string_view cliName;      // subject, sender, length, content, recipient
  std::string_view registryKey;  // RMail_title, ...
  std::string_view fileName;     // mrTitle.lst, ... in tmp/
};

// In the order the lists are saved, loaded and written: sender, length,
// content, subject, recipients.
const std::array<TFilterListInfo, 5>& FilterListInfos();
const TFilterListInfo& FilterListInfoOf(TFilterList list);
std::optional<TFilterList> FilterListByName(std::string_view cliName);

struct TFilterLists {
  std::vector<std::string> Subject, Sender, Length, Content, Recipient;

  std::vector<std::string>& Of(TFilterList list);
  const std::vector<std::string>& Of(TFilterList list) const;
};

// Entries are value names of the list's key, trimmed, in creation order.
TFilterLists LoadFilterLists(TSettingsStore& store);
// Each key deleted and re-created with one value per entry, all in one
// transaction. Entries that differ only in case collapse into one; an
// entry longer than 255 bytes on disk is cut.
bool SaveFilterLists(TSettingsStore& store, const TFilterLists& lists);

// Writes tmp/mrTitle.lst ... from the registry: trimmed entries, CR LF,
// GB18030. Each file is replaced whole. False if any could not be written.
bool WriteListFiles(const std::filesystem::path& home, TSettingsStore& store);
// The worker's view: each present file's lines; a missing file, no entries.
TFilterLists ReadListFiles(const std::filesystem::path& home);
// Lines of a list file: CR LF, CR or LF end a line; a final break adds none.
std::vector<std::string> SplitListLines(std::string_view text);

// Appends `entry` (trimmed) unless the list holds it already, ignoring case.
// Returns false when nothing was added.
bool AddTextEntry(std::vector<std::string>& list, std::string_view entry);
// Removes entries equal to `entry` (trimmed) ignoring case; false if none.
bool RemoveEntry(std::vector<std::string>& list, std::string_view entry);

// Length rules: "==", ">=" or "<=" then decimal digits.
inline constexpr std::array<std::string_view, 3> kLengthOperators = {"==", ">=", "<="};

// Builds the rule from an operator index (0 "==", 1 ">=", 2 "<=") and the
// typed number; replaces an equal rule and appends it. Refuses (false with a
// reason) a missing operator or a number that is not digits; an empty
// number does nothing.
bool AddLengthRule(std::vector<std::string>& rules, int operatorIndex, std::string_view number,
                   std::string* error = nullptr);
struct TLengthRuleParts {
  int operatorIndex = -1;  // -1: none of the three found
  std::string number;
};
// What taking the rule out puts back into the controls.
TLengthRuleParts SplitLengthRule(std::string_view rule);
// Removes rules[index] and returns its parts.
TLengthRuleParts TakeOutLengthRule(std::vector<std::string>& rules, std::size_t index);
// Adds a whole rule text such as ">=2048" as the window would.
bool AddLengthRuleText(std::vector<std::string>& rules, std::string_view rule,
                       std::string* error = nullptr);

// Writes the lists into a .rub file with profile-file update rules:
// sections and keys already there stay, equal keys are rewritten in place.
// A name without extension gets ".rub". The file is replaced whole.
bool ExportFilterFile(const std::filesystem::path& file, const TFilterLists& lists,
                      std::string* error = nullptr);
struct TFilterImportResult {
  int added = 0;
  int skipped = 0;  // length rules without operator, over-long entries
};
// Appends the file's entries (each line up to its last "=") to the lists.
bool ImportFilterFile(const std::filesystem::path& file, TFilterLists& lists,
                      TFilterImportResult* result = nullptr, std::string* error = nullptr);
// The entries of one section of .rub text (section name ignoring case).
std::vector<std::string> ReadFilterSection(std::string_view text, std::string_view section);

}  // namespace pelorix
