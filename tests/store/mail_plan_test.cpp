#include "store/mail_plan.h"

#include <gtest/gtest.h>

#include "temp_folder.h"

namespace pelorix {
namespace {

using testing::TempFolder;

TEST(MailPlan, LoadingWithoutKeyGivesScheduleDefaultsAndCreatesKey) {
  TempFolder home;
  auto store = TSettingsStore::Open(home.path());
  ASSERT_TRUE(store);
  TMailPlan plan;
  ASSERT_TRUE(plan.Load(*store));
  EXPECT_TRUE(store->KeyExists("MailCheck"));
  EXPECT_TRUE(plan.ClearMoreRub);
  EXPECT_EQ(plan.ClearMoreRubNum, 10000);
  EXPECT_EQ(plan.SkipBytes, 100);
  EXPECT_EQ(plan.checkTime, 5);
  EXPECT_FALSE(plan.autocheck || plan.DeleteRubbish || plan.GetMailAddress || plan.checkDeliver ||
               plan.checkSkipBytes || plan.checkNoMsg || plan.CheckSummary);
  EXPECT_EQ(plan.MailProg, "");
}

TEST(MailPlan, SavingWritesAllFourteenValuesInTheirForms) {
  TempFolder home;
  auto store = TSettingsStore::Open(home.path());
  TMailPlan plan;
  plan.Load(*store);
  plan.DeleteRubbish = true;
  plan.SkipBytes = 250;
  plan.MailProg = "/usr/bin/邮件";
  ASSERT_TRUE(plan.Save(*store));

  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "mailcheck", false, key));
  auto values = store->EnumValues(key);
  ASSERT_EQ(values.size(), 14u);
  EXPECT_EQ(values[0].name, "autocheck");
  EXPECT_EQ(values[11].name, "CheckSummary");
  // Copies of deleted mail are kept unless the user says otherwise.
  EXPECT_TRUE(ReadFlagValue(key, "Quarantine", false));
  EXPECT_EQ(ReadTextValue(key, "QuarantineDays", ""), "30");
  for (const auto& v : values) {
    if (v.type == TValueType::Binary) {
      EXPECT_EQ(v.data.size(), 4u) << v.name;
    }
  }
  // The settings window's spellings reach the same values.
  EXPECT_TRUE(ReadFlagValue(key, "deleterubbish", false));
  EXPECT_EQ(ReadTextValue(key, "skipBytes", ""), "250");
  EXPECT_EQ(ReadTextValue(key, "ClearMoreRubNum", ""), "10000");
  EXPECT_EQ(ReadTextValue(key, "mailprog", ""), "/usr/bin/邮件");
  EXPECT_FALSE(ReadFlagValue(key, "checkSummary", true));
  EXPECT_FALSE(ReadFlagValue(key, "checkNomsg", true));

  TMailPlan again;
  ASSERT_TRUE(again.Load(*store));
  EXPECT_TRUE(again.DeleteRubbish);
  EXPECT_EQ(again.SkipBytes, 250);
  EXPECT_EQ(again.MailProg, "/usr/bin/邮件");
}

TEST(MailPlan, NumberTextsThatAreNotDecimalReadAsDefault) {
  TempFolder home;
  auto store = TSettingsStore::Open(home.path());
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "MailCheck", true, key));
  WriteTextValue(key, "checkTime", "005");  // the window pads with zeros
  WriteTextValue(key, "ClearMoreRubNum", "12x");
  WriteTextValue(key, "SkipBytes", "");
  TMailPlan plan;
  ASSERT_TRUE(plan.Load(*store));
  EXPECT_EQ(plan.checkTime, 5);
  EXPECT_EQ(plan.ClearMoreRubNum, 10000);
  EXPECT_EQ(plan.SkipBytes, 100);
  WriteTextValue(key, "SkipBytes", "99999999999");
  WriteTextValue(key, "checkTime", " -3 ");
  plan.Load(*store);
  EXPECT_EQ(plan.SkipBytes, 100);
  EXPECT_EQ(plan.checkTime, -3);
}

TEST(MailPlan, SettingTableFindsNamesIgnoringCase) {
  const TSettingDef* def = FindSettingDef("mailcheck", "CHECKNOMSG");
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->name, "checkNomsg");
  EXPECT_EQ(def->kind, TSettingKind::Flag);
  EXPECT_EQ(FindSettingDef("Smtp", "checkNomsg"), nullptr);
  EXPECT_EQ(FindSettingDef("smtp", "myemail")->windowDefault, "在这里填写您的Email地址");
}

TEST(PropSettings, FreshSystemGetsEveryValueAtTheWindowDefaults) {
  TempFolder home;
  auto store = TSettingsStore::Open(home.path());
  TPropSettings window;
  window.Load(*store);
  EXPECT_EQ(window.checkTime, "005");
  EXPECT_EQ(window.ClearMoreRubNum, "250");
  EXPECT_TRUE(window.checkSummary);
  EXPECT_TRUE(window.ClearMoreRub);
  ASSERT_TRUE(window.Save(*store));

  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "Smtp", false, key));
  auto smtp = store->EnumValues(key);
  ASSERT_EQ(smtp.size(), 7u);
  EXPECT_EQ(smtp[0].name, "authType");
  EXPECT_EQ(smtp[0].type, TValueType::Number);
  EXPECT_EQ(ReadNumberValue(key, "authType", 7), 0);
  EXPECT_EQ(ReadTextValue(key, "smtpPort", ""), "25");
  EXPECT_EQ(ReadTextValue(key, "MyEmail", ""), "在这里填写您的Email地址");
  EXPECT_EQ(ReadTextValue(key, "Security", ""), "auto");
  ASSERT_TRUE(OpenSettingsKey(*store, "MailCheck", false, key));
  auto check = store->EnumValues(key);
  ASSERT_EQ(check.size(), 14u);
  for (const auto& v : check) {
    const TSettingDef* def = FindSettingDef("MailCheck", v.name);
    ASSERT_NE(def, nullptr) << v.name;
    if (def->kind == TSettingKind::Flag) {
      EXPECT_EQ(v.type, TValueType::Binary) << v.name;
      EXPECT_EQ(ReadFlagValue(key, v.name, def->windowDefault != "1"), def->windowDefault == "1")
          << v.name;
    } else {
      EXPECT_EQ(ReadTextValue(key, v.name, "?"), def->windowDefault) << v.name;
    }
  }

  // Blanks in number fields are saved as zeros, texts trimmed.
  window.checkTime = " 7";
  window.mailprog = "  /usr/bin/mutt ";
  window.SmtpServer = " smtp.example.com ";
  window.Security = "STARTTLS";
  ASSERT_TRUE(window.Save(*store));
  TPropSettings again;
  again.Load(*store);
  EXPECT_EQ(again.checkTime, "07");
  EXPECT_EQ(again.mailprog, "/usr/bin/mutt");
  EXPECT_EQ(again.SmtpServer, "smtp.example.com");
  EXPECT_EQ(again.Security, "starttls");
  TMailPlan plan;
  plan.Load(*store);
  EXPECT_EQ(plan.checkTime, 7);
  EXPECT_EQ(plan.MailProg, "/usr/bin/mutt");
}

TEST(PropSettings, NumberFieldsTakeDigitsAndControlKeys) {
  EXPECT_TRUE(NumberFieldAccepts(U'0'));
  EXPECT_TRUE(NumberFieldAccepts(U'9'));
  EXPECT_TRUE(NumberFieldAccepts(8));  // backspace
  EXPECT_FALSE(NumberFieldAccepts(U'a'));
  EXPECT_FALSE(NumberFieldAccepts(U' '));
  EXPECT_FALSE(NumberFieldAccepts(U'五'));
}

}  // namespace
}  // namespace pelorix
