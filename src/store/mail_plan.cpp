#include "store/mail_plan.h"

#include <algorithm>
#include <charconv>

#include "store/connection_security.h"
#include "store/smtp_secret.h"
#include "text/asciiutil.h"
#include "text/textutil.h"

namespace pelorix {

namespace {
constexpr TSettingDef kDefs[] = {
    {kSmtpKey, "authType", TSettingKind::Number, "0", "", 0},
    {kSmtpKey, "SmtpServer", TSettingKind::Text, "", "", 0},
    {kSmtpKey, "smtpPort", TSettingKind::DigitsText, "25", "", 5},
    {kSmtpKey, "account", TSettingKind::Text, "", "", 0},
    {kSmtpKey, "password", TSettingKind::Text, "", "", 0},
    {kSmtpKey, "MyEmail", TSettingKind::Text, "在这里填写您的Email地址", "", 0},
    {kMailCheckKey, "autostart", TSettingKind::Flag, "0", "", 0},
    {kMailCheckKey, "autocheck", TSettingKind::Flag, "0", "0", 0},
    {kMailCheckKey, "checkTime", TSettingKind::DigitsText, "005", "5", 3},
    {kMailCheckKey, "checkSummary", TSettingKind::Flag, "1", "0", 0},
    {kMailCheckKey, "DeleteRubbish", TSettingKind::Flag, "0", "0", 0},
    {kMailCheckKey, "checkDeliver", TSettingKind::Flag, "0", "0", 0},
    {kMailCheckKey, "checkNomsg", TSettingKind::Flag, "0", "0", 0},
    {kMailCheckKey, "ClearMoreRub", TSettingKind::Flag, "1", "1", 0},
    {kMailCheckKey, "ClearMoreRubNum", TSettingKind::DigitsText, "250", "10000", 4},
    {kMailCheckKey, "checkSkipBytes", TSettingKind::Flag, "0", "0", 0},
    {kMailCheckKey, "SkipBytes", TSettingKind::DigitsText, "100", "100", 4},
    {kMailCheckKey, "mailprog", TSettingKind::Text, "", "", 0},
    {kMailCheckKey, "GetMailAddress", TSettingKind::Flag, "", "0", 0},
    {kMailCheckKey, "Quarantine", TSettingKind::Flag, "1", "1", 0},
    {kMailCheckKey, "QuarantineDays", TSettingKind::DigitsText, "30", "30", 4},
    {kJudgeKey, "AutoJudge", TSettingKind::Flag, "1", "1", 0},
    {kJudgeKey, "SpamCut", TSettingKind::DigitsText, "95", "95", 3},
    {kJudgeKey, "UnsureCut", TSettingKind::DigitsText, "50", "50", 3},
    {kJudgeKey, "PeekLines", TSettingKind::DigitsText, "0", "0", 3},
    // A letter without its body file is fetched from the server on opening.
    {kMailCheckKey, "FetchLetters", TSettingKind::Flag, "1", "1", 0},
    // The window's language: "zh", "en", or empty for the desktop's.
    {kMailCheckKey, "Language", TSettingKind::Text, "", "", 0},
};

int TextNumber(const TSettingsKey& key, std::string_view name, int defaultValue) {
  int value = 0;
  return ParseSettingNumber(ReadTextValue(key, name, std::to_string(defaultValue)), value)
             ? value
             : defaultValue;
}
}  // namespace

const TSettingDef* FindSettingDef(std::string_view key, std::string_view name) {
  for (const auto& d : kDefs) {
    if (ascii::EqualNoCase(d.key, key) && ascii::EqualNoCase(d.name, name))
      return &d;
  }
  return nullptr;
}

bool ParseSettingNumber(std::string_view text, int& value) {
  text = ascii::Trim(text);
  if (!text.empty() && text.front() == '+')
    text.remove_prefix(1);
  if (text.empty())
    return false;
  int v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size())
    return false;
  value = v;
  return true;
}

void TPropSettings::Load(TSettingsStore& store) {
  TSettingsKey key;
  if (OpenSettingsKey(store, kSmtpKey, true, key)) {
    store.Read([&] {
      authType = ReadNumberValue(key, "authType", 0);
      SmtpServer = ReadTextValue(key, "SmtpServer", "");
      smtpPort = ReadTextValue(key, "smtpPort", "25");
      account = ReadTextValue(key, "account", "");
      MyEmail = ReadTextValue(key, "MyEmail", FindSettingDef(kSmtpKey, "MyEmail")->windowDefault);
      Security = SecurityModeName(ReadTextValue(key, kSmtpSecurityName, kDefaultSecurity))
                     .value_or(std::string(kDefaultSecurity));
    });
    // Outside the snapshot: the keyring may take its time.
    password = ReadSmtpPassword(store);
  }
  if (OpenSettingsKey(store, kMailCheckKey, true, key)) {
    store.Read([&] {
      autostart = ReadFlagValue(key, "autostart", false);
      autocheck = ReadFlagValue(key, "autocheck", false);
      checkTime = BlanksToZeros(ReadTextValue(key, "checkTime", "005"));
      checkSummary = ReadFlagValue(key, "checkSummary", true);
      DeleteRubbish = ReadFlagValue(key, "DeleteRubbish", false);
      checkDeliver = ReadFlagValue(key, "checkDeliver", false);
      checkNomsg = ReadFlagValue(key, "checkNomsg", false);
      ClearMoreRub = ReadFlagValue(key, "ClearMoreRub", true);
      ClearMoreRubNum = ReadTextValue(key, "ClearMoreRubNum", "250");
      checkSkipBytes = ReadFlagValue(key, "checkSkipBytes", false);
      SkipBytes = ReadTextValue(key, "SkipBytes", "100");
      mailprog = ReadTextValue(key, "mailprog", "");
      Quarantine = ReadFlagValue(key, "Quarantine", true);
      QuarantineDays = ReadTextValue(key, "QuarantineDays", "30");
    });
  }
  if (OpenSettingsKey(store, kJudgeKey, true, key)) {
    store.Read([&] {
      AutoJudge = ReadFlagValue(key, "AutoJudge", true);
      SpamCut = ReadTextValue(key, "SpamCut", "95");
      UnsureCut = ReadTextValue(key, "UnsureCut", "50");
      PeekLines = ReadTextValue(key, "PeekLines", "0");
    });
  }
}

bool TPropSettings::Save(TSettingsStore& store) const {
  auto trim = [](const std::string& s) { return std::string(ascii::Trim(s)); };
  return store.Write([&] {
    TSettingsKey key;
    if (OpenSettingsKey(store, kMailCheckKey, true, key)) {
      WriteFlagValue(key, "autostart", autostart);
      WriteFlagValue(key, "autocheck", autocheck);
      WriteTextValue(key, "checkTime", BlanksToZeros(checkTime));
      WriteFlagValue(key, "ClearMoreRub", ClearMoreRub);
      WriteTextValue(key, "ClearMoreRubNum", BlanksToZeros(ClearMoreRubNum));
      WriteFlagValue(key, "checkSkipBytes", checkSkipBytes);
      WriteTextValue(key, "SkipBytes", BlanksToZeros(SkipBytes));
      WriteFlagValue(key, "checkSummary", checkSummary);
      WriteFlagValue(key, "DeleteRubbish", DeleteRubbish);
      WriteFlagValue(key, "checkDeliver", checkDeliver);
      WriteFlagValue(key, "checkNomsg", checkNomsg);
      WriteTextValue(key, "mailprog", trim(mailprog));
      WriteFlagValue(key, "Quarantine", Quarantine);
      WriteTextValue(key, "QuarantineDays", BlanksToZeros(QuarantineDays));
    }
    if (OpenSettingsKey(store, kJudgeKey, true, key)) {
      WriteFlagValue(key, "AutoJudge", AutoJudge);
      WriteTextValue(key, "SpamCut", BlanksToZeros(SpamCut));
      WriteTextValue(key, "UnsureCut", BlanksToZeros(UnsureCut));
      WriteTextValue(key, "PeekLines", BlanksToZeros(PeekLines));
    }
    if (OpenSettingsKey(store, kSmtpKey, true, key)) {
      WriteNumberValue(key, "authType", authType);
      WriteTextValue(key, "SmtpServer", trim(SmtpServer));
      WriteTextValue(key, "smtpPort", trim(smtpPort));
      WriteTextValue(key, "account", trim(account));
      WriteSmtpPassword(store, trim(password));
      WriteTextValue(key, "MyEmail", trim(MyEmail));
      // A mode the window cannot have chosen is stored as the default.
      WriteTextValue(key, kSmtpSecurityName,
                     SecurityModeName(Security).value_or(std::string(kDefaultSecurity)));
    }
  });
}

bool NumberFieldAccepts(char32_t typed) {
  return typed <= 31 || (typed >= U'0' && typed <= U'9');
}

bool TMailPlan::Load(TSettingsStore& store) {
  TSettingsKey key;
  if (!OpenSettingsKey(store, kMailCheckKey, true, key))
    return false;
  // One snapshot, so a save running elsewhere is seen whole or not at all.
  store.Read([&] {
    autocheck = ReadFlagValue(key, "autocheck", false);
    checkTime = TextNumber(key, "checkTime", 5);
    ClearMoreRub = ReadFlagValue(key, "ClearMoreRub", true);
    ClearMoreRubNum = TextNumber(key, "ClearMoreRubNum", 10000);
    SkipBytes = TextNumber(key, "SkipBytes", 100);
    checkSkipBytes = ReadFlagValue(key, "checkSkipBytes", false);
    DeleteRubbish = ReadFlagValue(key, "DeleteRubbish", false);
    GetMailAddress = ReadFlagValue(key, "GetMailAddress", false);
    checkDeliver = ReadFlagValue(key, "checkDeliver", false);
    checkNoMsg = ReadFlagValue(key, "checkNoMsg", false);
    MailProg = ReadTextValue(key, "MailProg", "");
    CheckSummary = ReadFlagValue(key, "CheckSummary", false);
    Quarantine = ReadFlagValue(key, "Quarantine", true);
    QuarantineDays = TextNumber(key, "QuarantineDays", 30);
  });
  TSettingsKey judge;
  if (OpenSettingsKey(store, kJudgeKey, false, judge)) {
    store.Read([&] {
      AutoJudge = ReadFlagValue(judge, "AutoJudge", true);
      SpamCut = std::clamp(TextNumber(judge, "SpamCut", 95), 1, 100);
      UnsureCut = std::clamp(TextNumber(judge, "UnsureCut", 50), 0, SpamCut);
      PeekLines = std::clamp(TextNumber(judge, "PeekLines", 0), 0, 999);
    });
  }
  return true;
}

bool TMailPlan::Save(TSettingsStore& store) const {
  TSettingsKey key;
  if (!OpenSettingsKey(store, kMailCheckKey, true, key))
    return false;
  return store.Write([&] {
    WriteFlagValue(key, "autocheck", autocheck);
    WriteTextValue(key, "checkTime", std::to_string(checkTime));
    WriteFlagValue(key, "ClearMoreRub", ClearMoreRub);
    WriteTextValue(key, "ClearMoreRubNum", std::to_string(ClearMoreRubNum));
    WriteTextValue(key, "SkipBytes", std::to_string(SkipBytes));
    WriteFlagValue(key, "checkSkipBytes", checkSkipBytes);
    WriteFlagValue(key, "DeleteRubbish", DeleteRubbish);
    WriteFlagValue(key, "GetMailAddress", GetMailAddress);
    WriteFlagValue(key, "checkDeliver", checkDeliver);
    WriteFlagValue(key, "checkNoMsg", checkNoMsg);
    WriteTextValue(key, "MailProg", MailProg);
    WriteFlagValue(key, "CheckSummary", CheckSummary);
    WriteFlagValue(key, "Quarantine", Quarantine);
    WriteTextValue(key, "QuarantineDays", std::to_string(QuarantineDays));
    TSettingsKey judge;
    if (OpenSettingsKey(store, kJudgeKey, true, judge)) {
      WriteFlagValue(judge, "AutoJudge", AutoJudge);
      WriteTextValue(judge, "SpamCut", std::to_string(SpamCut));
      WriteTextValue(judge, "UnsureCut", std::to_string(UnsureCut));
      WriteTextValue(judge, "PeekLines", std::to_string(PeekLines));
    }
  });
}

}  // namespace pelorix
