#pragma once
// The check settings (key MailCheck) as the program carries them while it
// runs, and the table of every value the settings window edits.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "store/settings_store.h"

namespace pelorix {

inline constexpr std::string_view kMailCheckKey = "MailCheck";
inline constexpr std::string_view kSmtpKey = "Smtp";

struct TMailPlan {
  bool autocheck = false;
  int checkTime = 0;
  bool ClearMoreRub = false;
  int ClearMoreRubNum = 0;
  int SkipBytes = 0;
  bool DeleteRubbish = false;
  bool GetMailAddress = false;
  bool checkDeliver = false;
  bool checkSkipBytes = false;
  bool checkNoMsg = false;
  std::string MailProg;
  bool CheckSummary = false;

  // Reads MailCheck (creating it when missing) with the schedule's
  // defaults. A number text that is not a decimal integer reads as its
  // default. Returns false, leaving the fields as they were, when the key
  // cannot be opened.
  bool Load(TSettingsStore& store);
  // Writes all twelve values in one transaction.
  bool Save(TSettingsStore& store) const;
};

// A decimal integer (optional sign, blanks around it allowed) or nothing.
bool ParseSettingNumber(std::string_view text, int& value);

enum class TSettingKind { Flag, Number, Text, DigitsText };

// One value of MailCheck or Smtp: its spelling, kind, the settings window's
// default, and for DigitsText the most digits the window's field takes.
struct TSettingDef {
  std::string_view key;
  std::string_view name;
  TSettingKind kind;
  std::string_view windowDefault;    // "1"/"0" for flags, decimal for numbers
  std::string_view scheduleDefault;  // empty when the schedule does not read it
  int maxDigits;
};

// Every value of Smtp and MailCheck, in the settings window's load order.
std::span<const TSettingDef> SettingDefinitions();
// Finds a definition by key and value name, ignoring ASCII case.
const TSettingDef* FindSettingDef(std::string_view key, std::string_view name);

}  // namespace pelorix
