#pragma once
// The check settings (key MailCheck) as the program carries them while it
// runs, and the table of every value the settings window edits.

#include <cstdint>
#include <string>
#include <string_view>

#include "store/settings_store.h"

namespace pelorix {

inline constexpr std::string_view kMailCheckKey = "MailCheck";
inline constexpr std::string_view kSmtpKey = "Smtp";
// The learning judge's settings, a key of their own beside MailCheck.
inline constexpr std::string_view kJudgeKey = "Judge";

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
  // Keep a whole copy of every message before it is deleted on a server,
  // and for how many days.
  bool Quarantine = false;
  int QuarantineDays = 0;
  // The learning judge: on or off, its two cuts (0-100) and the body lines
  // a header check also reads (0: none).
  bool AutoJudge = true;
  int SpamCut = 95;
  int UnsureCut = 50;
  int PeekLines = 0;

  // Reads MailCheck (creating it when missing) with the schedule's
  // defaults. A number text that is not a decimal integer reads as its
  // default. Returns false, leaving the fields as they were, when the key
  // cannot be opened.
  bool Load(TSettingsStore& store);
  // Writes all fourteen values, and the judge's in their key, in one
  // transaction.
  bool Save(TSettingsStore& store) const;
};

// The values of Smtp and MailCheck as the settings window edits them, with
// its defaults. Member initialisers are the window's design values, kept
// for a key group whose key cannot be opened.
struct TPropSettings {
  // Smtp
  int authType = 0;  // 0 no authentication, 1 simple login, -1 none chosen
  std::string SmtpServer;
  std::string smtpPort = "25";
  std::string account;
  std::string password;
  std::string MyEmail;
  std::string Security = "auto";  // connection security: auto, tls, starttls, none
  // MailCheck
  bool autostart = false;
  bool autocheck = false;
  std::string checkTime = "5";
  bool checkSummary = true;
  bool DeleteRubbish = false;
  bool checkDeliver = false;
  bool checkNomsg = false;
  bool ClearMoreRub = false;
  std::string ClearMoreRubNum = "0";
  bool checkSkipBytes = false;
  std::string SkipBytes = "0";
  std::string mailprog;
  bool Quarantine = true;
  std::string QuarantineDays = "30";
  bool AutoJudge = true;
  std::string SpamCut = "95";
  std::string UnsureCut = "50";
  std::string PeekLines = "0";

  // Smtp first, then MailCheck; blanks in checkTime read as "0".
  void Load(TSettingsStore& store);
  // MailCheck first, then Smtp, in one transaction: number texts with
  // blanks written as "0", mailprog and the Smtp texts trimmed.
  bool Save(TSettingsStore& store) const;
};

// The number fields' key filter: control characters pass, other
// characters only if they are the digits 0 to 9.
bool NumberFieldAccepts(char32_t typed);

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

// Finds a definition by key and value name, ignoring ASCII case.
const TSettingDef* FindSettingDef(std::string_view key, std::string_view name);

}  // namespace pelorix
