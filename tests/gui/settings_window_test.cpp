#include "gui/settings_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <memory>
#include <thread>

#include "gui/scripted_dialogs.h"
#include "gui/settings_fields.h"
#include "gui/wait_until.h"
#include "store/account_imap.h"
#include "store/accounts.h"
#include "store/autostart.h"
#include "store/connection_security.h"
#include "store/filter_lists.h"
#include "store/ip_table.h"
#include "store/oauth_account.h"
#include "store/secret_store.h"
#include "store/temp_folder.h"
#include "support/oauth_server.h"
#include "text/ansi.h"

namespace pelorix::gui {
namespace {

namespace fs = std::filesystem;
using pelorix::testing::TempFolder;
using pelorix::testing::WriteBytes;
using testing::TScriptedDialogs;

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
    store = TSettingsStore::Open(home.path());
    ASSERT_TRUE(store);
  }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }

  void Open() {
    window = std::make_unique<TfrmProp>(nullptr, home.path(), *store);
    window->show();
  }
  // Closing is saving, whichever way: here by Escape, as a user would.
  void CloseByEscape() {
    ASSERT_TRUE(window->isVisible());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    window.reset();
  }
  template <class T>
  T* Find(const char* name) {
    auto* w = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  void Click(const char* button) {
    auto* b = Find<QAbstractButton>(button);
    b->click();
  }
  void Type(const char* field, const QString& text) {
    auto* edit = Find<QLineEdit>(field);
    edit->clear();
    // Key events carry ASCII only; other text arrives as typed input would.
    bool ascii = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 128; });
    if (ascii)
      QTest::keyClicks(edit, text);
    else
      edit->insert(text);
  }
  TSettingsValue Value(const char* key, const char* name) {
    TSettingsKey k;
    TSettingsValue v;
    EXPECT_TRUE(OpenSettingsKey(*store, key, false, k)) << key;
    EXPECT_TRUE(store->ReadValue(k, name, v)) << key << "\\" << name;
    return v;
  }

  TempFolder home;
  std::unique_ptr<TSettingsStore> store;
  std::unique_ptr<TfrmProp> window;
  TScriptedDialogs dialogs;
};

TEST_F(SettingsWindowTest, FreshHomeSavesTheWindowDefaultsWithTheirTypes) {
  fs::create_directories(home.path() / "modal");
  Open();
  EXPECT_EQ(Find<QTabWidget>("PageControl7")->currentIndex(), 0);
  EXPECT_TRUE(Find<QToolButton>("FlatButton1")->isChecked());
  EXPECT_FALSE(Find<QToolButton>("FlatButton2")->isChecked());
  CloseByEscape();

  const std::string flagTrue("\xFF\xFF\xFF\xFF", 4), flagFalse(4, '\0');
  struct TExpected {
    const char* key;
    const char* name;
    TValueType type;
    std::string data;
  };
  const TExpected expected[] = {
      {"Smtp", "authType", TValueType::Number, std::string(4, '\0')},
      {"Smtp", "SmtpServer", TValueType::Text, ""},
      {"Smtp", "smtpPort", TValueType::Text, "25"},
      {"Smtp", "account", TValueType::Text, ""},
      {"Smtp", "password", TValueType::Text, ""},
      {"Smtp", "MyEmail", TValueType::Text, ToAnsi("在这里填写您的Email地址")},
      {"Smtp", "Security", TValueType::Text, "auto"},
      {"MailCheck", "autostart", TValueType::Binary, flagFalse},
      {"MailCheck", "autocheck", TValueType::Binary, flagFalse},
      {"MailCheck", "checkTime", TValueType::Text, "005"},
      {"MailCheck", "checkSummary", TValueType::Binary, flagTrue},
      {"MailCheck", "DeleteRubbish", TValueType::Binary, flagFalse},
      {"MailCheck", "checkDeliver", TValueType::Binary, flagFalse},
      {"MailCheck", "checkNomsg", TValueType::Binary, flagFalse},
      {"MailCheck", "ClearMoreRub", TValueType::Binary, flagTrue},
      {"MailCheck", "ClearMoreRubNum", TValueType::Text, "250"},
      {"MailCheck", "checkSkipBytes", TValueType::Binary, flagFalse},
      {"MailCheck", "SkipBytes", TValueType::Text, "100"},
      {"MailCheck", "mailprog", TValueType::Text, ""},
      {"MailCheck", "Quarantine", TValueType::Binary, flagTrue},
      {"MailCheck", "QuarantineDays", TValueType::Text, "30"},
      {"MailCheck", "FetchLetters", TValueType::Binary, flagTrue},
      {"MailCheck", "Language", TValueType::Text, ""},
  };
  for (const auto& e : expected) {
    TSettingsValue v = Value(e.key, e.name);
    EXPECT_EQ(v.type, e.type) << e.name;
    EXPECT_EQ(v.data, e.data) << e.name;
  }
  // An untouched table does not become the user's copy.
  EXPECT_FALSE(fs::exists(home.path() / "modal" / "IPuser.dat"));
  EXPECT_TRUE(dialogs.Shown.empty());
}

TEST_F(SettingsWindowTest, LanguageAndLetterFetchingAreKeptAcrossOpenings) {
  Open();
  auto* language = Find<QComboBox>("cboLanguage");
  language->setCurrentIndex(language->findData(QStringLiteral("en")));
  Find<QCheckBox>("chkFetchLetters")->setChecked(false);
  CloseByEscape();
  EXPECT_EQ(Value("MailCheck", "Language").data, "en");
  EXPECT_EQ(Value("MailCheck", "FetchLetters").data, std::string(4, '\0'));

  Open();
  EXPECT_EQ(Find<QComboBox>("cboLanguage")->currentData().toString(), QStringLiteral("en"));
  EXPECT_FALSE(Find<QCheckBox>("chkFetchLetters")->isChecked());
  Find<QComboBox>("cboLanguage")->setCurrentIndex(0);  // back to the desktop's choice
  CloseByEscape();
  EXPECT_EQ(Value("MailCheck", "Language").data, "");
}

TEST_F(SettingsWindowTest, StoredValuesFillTheControlsAndNumberFieldsTakeDigitsOnly) {
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "MailCheck", true, key));
  store->WriteValue(key, "checkDeliver", TValueType::Binary, std::string("\x01\0\0\0", 4));
  WriteFlagValue(key, "checkSummary", false);
  WriteFlagValue(key, "DeleteRubbish", true);
  WriteFlagValue(key, "Quarantine", false);
  WriteTextValue(key, "QuarantineDays", "7");
  Open();
  EXPECT_TRUE(Find<QCheckBox>("chkRdeliver")->isChecked());
  auto* quarantine = Find<QCheckBox>("chkQuarantine");
  auto* days = Find<QLineEdit>("meQuarantineDays");
  EXPECT_FALSE(quarantine->isChecked());
  EXPECT_EQ(days->text(), "7");
  EXPECT_EQ(days->accessibleName(), QStringLiteral("副本保留天数"));
  quarantine->setChecked(true);
  Type("meQuarantineDays", "1x4");
  // Delete during a check needs the summary, decided at opening.
  auto* deleteMail = Find<QCheckBox>("chkDeleteMail");
  EXPECT_TRUE(deleteMail->isChecked());
  EXPECT_FALSE(deleteMail->isEnabled());
  Find<QCheckBox>("chkSummary")->setChecked(true);
  EXPECT_FALSE(deleteMail->isEnabled());

  auto* minutes = Find<QLineEdit>("meMmin");
  EXPECT_EQ(minutes->text(), "005");
  QTest::keyClicks(minutes, "ab-");
  EXPECT_EQ(minutes->text(), "005");
  QTest::keyClick(minutes, Qt::Key_Backspace);
  EXPECT_EQ(minutes->text(), "00");
  QTest::keyClicks(minutes, "78");
  EXPECT_EQ(minutes->text(), "007");  // three digits at most
  minutes->clear();
  QApplication::clipboard()->setText("1x2");
  minutes->paste();
  EXPECT_EQ(minutes->text(), "");
  QApplication::clipboard()->setText("12");
  minutes->paste();
  EXPECT_EQ(minutes->text(), "12");
  Find<QComboBox>("cboAuthType")->setCurrentIndex(1);
  CloseByEscape();

  EXPECT_EQ(Value("MailCheck", "checkTime").data, "12");
  EXPECT_EQ(Value("MailCheck", "Quarantine").data, "\xFF\xFF\xFF\xFF");
  EXPECT_EQ(Value("MailCheck", "QuarantineDays").data, "14");
  EXPECT_EQ(Value("Smtp", "authType").data, std::string("\x01\0\0\0", 4));
  // Still true, now in the written form.
  EXPECT_EQ(Value("MailCheck", "checkDeliver").data, "\xFF\xFF\xFF\xFF");
}

TEST_F(SettingsWindowTest, AutostartBoxWritesAndRemovesTheLogOnEntryAtOnce) {
  Open();
  const fs::path entry = AutostartEntryPath();
  auto* box = Find<QCheckBox>("CHKauto");
  box->click();
  ASSERT_TRUE(fs::exists(entry));
  std::string text = pelorix::testing::ReadBytes(entry);
  EXPECT_NE(text.find(CurrentProgramPath().filename().string() + " -auto\n"), std::string::npos);
  box->click();
  EXPECT_FALSE(fs::exists(entry));
  box->click();
  CloseByEscape();
  EXPECT_EQ(Value("MailCheck", "autostart").data, "\xFF\xFF\xFF\xFF");
  // A stored tick rewrites the entry when the window opens.
  fs::remove(entry);
  Open();
  EXPECT_TRUE(fs::exists(entry));
}

TEST_F(SettingsWindowTest, AccountsAreAddedTakenOutAndReplaced) {
  Open();
  Type("edtMpop", "pop.b.example");
  Type("edtMuser", "ann");
  Type("edtnote", "note");
  Click("SpeedButton12");  // no password
  ASSERT_EQ(dialogs.Shown.size(), 1u);
  EXPECT_EQ(dialogs.Shown[0].Caption, "错误！");
  EXPECT_EQ(dialogs.Shown[0].Text, "所填地址不能为空格");
  auto* list = Find<QTreeWidget>("lvmail");
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_EQ(Find<QLineEdit>("edtMpop")->text(), "pop.b.example");  // kept as typed

  Type("edtMkey", "secret");
  // Enter in a field must not press a button.
  QTest::keyClick(Find<QLineEdit>("edtMkey"), Qt::Key_Return);
  EXPECT_EQ(list->topLevelItemCount(), 0);
  Click("SpeedButton12");
  Type("edtMpop", "pop.a.example");
  Type("edtMuser", "bob");
  Type("edtMkey", "pw");
  Click("SpeedButton12");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(0)->text(0), "pop.a.example");  // sorted by server
  EXPECT_EQ(list->topLevelItem(1)->text(2), "******");
  EXPECT_EQ(Find<QLineEdit>("edtMpop")->text(), "");

  // Nothing selected: the first row comes out into the fields.
  list->clearSelection();
  Click("SpeedButton45");
  EXPECT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(Find<QLineEdit>("edtMuser")->text(), "bob");
  EXPECT_EQ(Find<QLineEdit>("edtMkey")->text(), "pw");
  Type("edtMkey", "changed");
  Click("SpeedButton12");
  // The same server and user again replaces the row.
  Type("edtMpop", "pop.a.example");
  Type("edtMuser", "bob");
  Type("edtMkey", "final");
  Type("edtnote", "work");
  Click("SpeedButton12");
  EXPECT_EQ(list->topLevelItemCount(), 2);
  Find<QLineEdit>("edtMpop")->setText("bad\x01host");
  Type("edtMuser", "x");
  Type("edtMkey", "y");
  Click("SpeedButton12");
  EXPECT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(dialogs.Shown.size(), 2u);

  // Thunderbird's POP3 accounts come in without passwords; one already in
  // the list keeps the password typed for it. Twice gives the same rows.
  const std::string savedHome = ::getenv("HOME");
  ::setenv("HOME", (home.path() / "user").c_str(), 1);
  WriteBytes(home.path() / "user" / ".thunderbird" / "x.default" / "prefs.js",
             "user_pref(\"mail.server.server1.hostname\", \"pop.b.example\");\n"
             "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
             "user_pref(\"mail.server.server1.userName\", \"ann\");\n"
             "user_pref(\"mail.server.server2.hostname\", \"pop.c.example\");\n"
             "user_pref(\"mail.server.server2.type\", \"pop3\");\n"
             "user_pref(\"mail.server.server2.userName\", \"cy\");\n");
  Click("FlatSpeedButton1");
  Click("FlatSpeedButton1");
  ::setenv("HOME", savedHome.c_str(), 1);
  ASSERT_EQ(list->topLevelItemCount(), 3);
  EXPECT_EQ(list->topLevelItem(1)->text(2), "******");
  EXPECT_EQ(list->topLevelItem(2)->text(2), "[没有密码，请重新设置]");
  EXPECT_EQ(list->topLevelItem(2)->foreground(2).color(), QColor(Qt::red));
  EXPECT_EQ(dialogs.Shown.size(), 2u);
  window->close();
  window.reset();

  auto accounts = LoadAccounts(*store);
  ASSERT_EQ(accounts.size(), 3u);
  EXPECT_EQ(accounts[0].Server, "pop.a.example");
  EXPECT_EQ(accounts[0].Password, "final");
  EXPECT_EQ(accounts[0].Note, "work");
  EXPECT_EQ(accounts[1].User, "ann");
  EXPECT_EQ(accounts[1].Password, "secret");
  EXPECT_EQ(accounts[2].User, "cy");
}

TEST_F(SettingsWindowTest, ConnectionSecurityStaysWithItsAccountAndSmtpHasItsOwn) {
  using ::testing::Pair;
  using ::testing::UnorderedElementsAre;
  ASSERT_TRUE(SaveAccounts(*store, {{"pop.a.example", "ann", "pw", ""}}));
  ASSERT_TRUE(WriteAccountSecurity(*store, "ann[pop.a.example]", "starttls"));
  ASSERT_TRUE(WriteAccountSecurity(*store, "gone[pop.x.example]", "tls"));  // no such account
  Open();
  auto* list = Find<QTreeWidget>("lvmail");
  auto* mode = Find<QComboBox>("cboSecurity");
  EXPECT_EQ(mode->accessibleName(), "连接安全");
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(4), "STARTTLS");

  Type("edtMpop", "pop.b.example");
  Type("edtMuser", "bob");
  Type("edtMkey", "pw");
  mode->setCurrentIndex(mode->findText("SSL/TLS"));
  Click("SpeedButton12");
  EXPECT_EQ(mode->currentText(), "自动");  // cleared with the fields
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(1)->text(4), "SSL/TLS");
  // Taken out, the mode comes back into the fields; re-added, it stays.
  list->clearSelection();
  Click("SpeedButton45");
  EXPECT_EQ(mode->currentText(), "STARTTLS");
  Click("SpeedButton12");
  EXPECT_EQ(list->topLevelItem(0)->text(4), "STARTTLS");

  // The SMTP mode brings its standard port along; a chosen port stays.
  Find<QToolButton>("FlatButton2")->click();
  auto* smtpMode = Find<QComboBox>("cboSmtpSecurity");
  auto* port = Find<QLineEdit>("SMTPPort");
  EXPECT_EQ(smtpMode->accessibleName(), "连接安全");
  EXPECT_EQ(smtpMode->currentText(), "自动");
  smtpMode->setCurrentIndex(smtpMode->findText("SSL/TLS"));
  EXPECT_EQ(port->text(), "465");
  smtpMode->setCurrentIndex(smtpMode->findText("STARTTLS"));
  EXPECT_EQ(port->text(), "25");
  Type("SMTPPort", "2525");
  smtpMode->setCurrentIndex(smtpMode->findText("不加密"));
  EXPECT_EQ(port->text(), "2525");
  CloseByEscape();

  EXPECT_THAT(LoadConnectionPolicy(*store).Modes,
              UnorderedElementsAre(Pair("ann[pop.a.example]", "starttls"),
                                   Pair("bob[pop.b.example]", "tls")));
  EXPECT_EQ(ReadSmtpSecurity(*store), "none");

  // Reopened: taken out and not put back, the account's mode goes with it.
  Open();
  EXPECT_EQ(Find<QComboBox>("cboSmtpSecurity")->currentText(), "不加密");
  list = Find<QTreeWidget>("lvmail");
  list->setCurrentItem(list->topLevelItem(1));
  Click("SpeedButton45");
  EXPECT_EQ(Find<QComboBox>("cboSecurity")->currentText(), "SSL/TLS");
  CloseByEscape();
  EXPECT_THAT(LoadConnectionPolicy(*store).Modes,
              UnorderedElementsAre(Pair("ann[pop.a.example]", "starttls")));
  EXPECT_TRUE(dialogs.Shown.empty());
}

TEST_F(SettingsWindowTest, AnImapAccountKeepsItsFoldersAndWayOfDeleting) {
  ASSERT_TRUE(SaveAccounts(*store, {{"pop.a.example", "ann", "pw", ""}}));
  Open();
  auto* protocol = Find<QComboBox>("cboProtocol");
  auto* folders = Find<QLineEdit>("edtFolders");
  auto* mode = Find<QComboBox>("cboDeleteMode");
  EXPECT_EQ(mode->accessibleName(), "删除方式");
  EXPECT_FALSE(folders->isEnabled());  // POP3 has no folders
  Type("edtMpop", "imap.b.example");
  Type("edtMuser", "bob");
  Type("edtMkey", "pw");
  protocol->setCurrentIndex(protocol->findText("IMAP"));
  EXPECT_TRUE(folders->isEnabled());
  EXPECT_EQ(folders->text(), "INBOX");
  Type("edtFolders", "INBOX, 工作");
  mode->setCurrentIndex(mode->findData("trash"));
  Click("SpeedButton12");
  auto* list = Find<QTreeWidget>("lvmail");
  ASSERT_EQ(list->topLevelItemCount(), 2);
  EXPECT_EQ(list->topLevelItem(0)->text(5), "IMAP");
  EXPECT_EQ(list->topLevelItem(1)->text(5), "POP3");
  EXPECT_EQ(protocol->currentText(), "POP3");  // cleared with the fields
  CloseByEscape();

  const auto imap = ReadImapSettings(*store, "bob[imap.b.example]");
  ASSERT_TRUE(imap);
  EXPECT_EQ(imap->DeleteMode, "trash");
  EXPECT_EQ(imap->Folders, (std::vector<std::string>{"INBOX", "工作"}));
  EXPECT_FALSE(ReadImapSettings(*store, "ann[pop.a.example]"));
  Open();
  list = Find<QTreeWidget>("lvmail");
  list->setCurrentItem(list->topLevelItem(0));
  Click("SpeedButton45");
  EXPECT_EQ(Find<QComboBox>("cboProtocol")->currentText(), "IMAP");
  EXPECT_EQ(Find<QLineEdit>("edtFolders")->text(), "INBOX, 工作");
  CloseByEscape();
  // Taken out and not put back, its IMAP settings go with it.
  EXPECT_FALSE(ReadImapSettings(*store, "bob[imap.b.example]"));
}

TEST_F(SettingsWindowTest, LoginMethodStaysWithItsAccountAndSmtpHasItsOwn) {
  using ::testing::Pair;
  using ::testing::UnorderedElementsAre;
  ASSERT_TRUE(SaveAccounts(*store, {{"pop.a.example", "ann", "pw", ""}}));
  ASSERT_TRUE(WriteAccountLogin(*store, "ann[pop.a.example]", "apop"));
  Open();
  auto* list = Find<QTreeWidget>("lvmail");
  auto* login = Find<QComboBox>("cboLogin");
  EXPECT_EQ(login->accessibleName(), "登录方式");
  EXPECT_EQ(list->topLevelItem(0)->text(6), "APOP");
  Type("edtMpop", "pop.b.example");
  Type("edtMuser", "bob");
  Type("edtMkey", "token");
  login->setCurrentIndex(login->findData(QStringLiteral("oauthbearer")));
  Click("SpeedButton12");
  EXPECT_EQ(login->currentData().toString(), "user");  // cleared with the fields
  list->setCurrentItem(list->topLevelItem(1));
  Click("SpeedButton45");
  EXPECT_EQ(login->currentData().toString(), "oauthbearer");
  Click("SpeedButton12");
  auto* smtpLogin = Find<QComboBox>("cboSmtpLogin");
  EXPECT_EQ(smtpLogin->currentData().toString(), "login");
  EXPECT_EQ(smtpLogin->findData(QStringLiteral("apop")), -1);
  smtpLogin->setCurrentIndex(smtpLogin->findData(QStringLiteral("xoauth2")));
  // No keyring in this session: the window says where passwords go, once.
  const bool keyring = store->Keyring() != nullptr;
  EXPECT_EQ(Find<QLabel>("lblKeyring")->isVisibleTo(window.get()), !keyring);
  CloseByEscape();
  EXPECT_THAT(LoadConnectionPolicy(*store).Logins,
              UnorderedElementsAre(Pair("ann[pop.a.example]", "apop"),
                                   Pair("bob[pop.b.example]", "oauthbearer")));
  EXPECT_EQ(ReadSmtpMechanism(*store), "xoauth2");
  Open();
  EXPECT_FALSE(Find<QLabel>("lblKeyring")->isVisibleTo(window.get()));
  CloseByEscape();
  EXPECT_TRUE(dialogs.Shown.empty());
}

TEST_F(SettingsWindowTest, ProviderFillsTheFieldsAndSignInRunsThroughTheBrowser) {
  if (auto why = test::TOAuthServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TOAuthServer oauth("client-1", "ann@example.com");
  oauth.Start();
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "OAuth\\custom", true, key));
  WriteTextValue(key, "ClientId", "client-1");
  WriteTextValue(key, "AuthorizationEndpoint", oauth.Url("/authorize"));
  WriteTextValue(key, "TokenEndpoint", oauth.Url("/token"));
  std::vector<std::thread> browsing;
  dialogs.Browser = [&](const QString& url) {
    browsing.emplace_back([u = url.toStdString()] { test::TOAuthServer::BrowserGet(u); });
  };
  Open();
  auto* provider = Find<QComboBox>("cboProvider");
  EXPECT_EQ(provider->accessibleName(), "OAuth2 提供者");
  provider->setCurrentIndex(provider->findData(QStringLiteral("gmail")));
  EXPECT_EQ(Find<QLineEdit>("edtMpop")->text(), "pop.gmail.com:995");
  EXPECT_EQ(Find<QComboBox>("cboSecurity")->currentText(), "SSL/TLS");
  EXPECT_EQ(Find<QComboBox>("cboLogin")->currentData().toString(), "oauthbearer");
  // The build has no Gmail client ID: the window says what to register.
  ASSERT_EQ(dialogs.Shown.size(), 1u);
  EXPECT_TRUE(dialogs.Shown[0].Text.contains(QStringLiteral("客户端 ID")));

  provider->setCurrentIndex(provider->findData(QStringLiteral("custom")));
  Type("edtMpop", "pop.example.com:995");
  Type("edtMuser", "ann@example.com");
  Click("SpeedButton12");  // no password needed
  auto* list = Find<QTreeWidget>("lvmail");
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(2), "OAuth2");
  list->setCurrentItem(list->topLevelItem(0));
  Click("btnOAuthLogin");
  ASSERT_EQ(dialogs.OpenedUrls.size(), 1u);
  EXPECT_TRUE(dialogs.OpenedUrls[0].startsWith(QString::fromStdString(oauth.Url("/authorize?"))));
  ASSERT_TRUE(WaitUntil([&] { return dialogs.Shown.size() == 2; })) << oauth.Log();
  EXPECT_EQ(dialogs.Shown[1].Text, "已登录：ann@example.com[pop.example.com:995]");
  EXPECT_FALSE(ReadOAuthTokens(*store, "ann@example.com[pop.example.com:995]").Refresh.empty());

  Find<QToolButton>("FlatButton2")->click();
  auto* smtpProvider = Find<QComboBox>("cboSmtpProvider");
  smtpProvider->setCurrentIndex(smtpProvider->findData(QStringLiteral("outlook")));
  EXPECT_EQ(Find<QLineEdit>("SMTPServer")->text(), "smtp.office365.com");
  EXPECT_EQ(Find<QLineEdit>("SMTPPort")->text(), "587");
  EXPECT_EQ(Find<QComboBox>("cboSmtpSecurity")->currentText(), "STARTTLS");
  EXPECT_EQ(Find<QComboBox>("cboSmtpLogin")->currentData().toString(), "xoauth2");
  EXPECT_EQ(Find<QComboBox>("cboAuthType")->currentIndex(), 1);
  CloseByEscape();
  for (auto& t : browsing)
    t.join();
  EXPECT_EQ(ReadAccountOAuthProvider(*store, "ann@example.com[pop.example.com:995]"), "custom");
  EXPECT_EQ(ReadAccountLogin(*store, "ann@example.com[pop.example.com:995]"), "oauthbearer");
  EXPECT_EQ(ReadSmtpMechanism(*store), "xoauth2");
}

TEST_F(SettingsWindowTest, LengthRulesAndFilterFilesGoThroughTheControls) {
  Open();
  auto* op = Find<QComboBox>("cbxRlenOpr");
  auto* number = Find<TDigitsSpinBox>("edtRlen");
  auto* rules = Find<QListWidget>("lvRlen");
  EXPECT_EQ(op->currentIndex(), -1);
  number->setText("2048");
  Click("SpeedButton50");  // no operator chosen: refused with a message
  EXPECT_EQ(rules->count(), 0);
  EXPECT_EQ(dialogs.Shown.size(), 1u);
  op->setCurrentIndex(1);
  Click("SpeedButton50");
  number->setText("100");
  op->setCurrentIndex(0);
  Click("SpeedButton50");
  number->setText("2048");
  op->setCurrentIndex(1);
  Click("SpeedButton50");  // equal rule: replaced, now at the end
  ASSERT_EQ(rules->count(), 2);
  EXPECT_EQ(rules->item(0)->text(), "==100");
  EXPECT_EQ(rules->item(1)->text(), ">=2048");
  number->stepBy(200);
  EXPECT_EQ(number->text(), "100");  // the arrows stop at 100

  rules->item(0)->setSelected(true);
  Click("SpeedButton47");
  EXPECT_EQ(rules->count(), 1);
  EXPECT_EQ(op->currentIndex(), 0);
  EXPECT_EQ(number->text(), "100");
  Click("SpeedButton50");

  Find<QPlainTextEdit>("lvRtitle")->setPlainText("Cheap\n发票\n");
  Find<QPlainTextEdit>("lvRmid")->setPlainText("<script>=x");
  auto* sender = Find<QPlainTextEdit>("lvRmail");
  sender->setFocus();
  QTest::keyClicks(sender, "spam@");
  QTest::keyClick(sender, Qt::Key_Return);
  QTest::keyClicks(sender, "x");
  EXPECT_EQ(sender->toPlainText(), "spam@x");

  const fs::path rub = home.path() / "out" / "lists";
  fs::create_directories(rub.parent_path());
  dialogs.FileNames = {QString::fromStdString(rub.string())};
  Click("SpeedButton48");
  ASSERT_TRUE(fs::exists(rub.string() + ".rub"));
  EXPECT_EQ(dialogs.FileDialogFolders.back().toStdString(), (home.path() / "modal").string());

  for (const char* memo : {"lvRtitle", "lvRmid", "lvRmail"})
    Find<QPlainTextEdit>(memo)->clear();
  Find<QPlainTextEdit>("lvRtitle")->setPlainText("CHEAP");
  dialogs.FileNames = {QString::fromStdString(rub.string() + ".rub")};
  Click("SpeedButton49");
  EXPECT_EQ(Find<QPlainTextEdit>("lvRtitle")->toPlainText(), "CHEAP\n发票");
  EXPECT_EQ(Find<QPlainTextEdit>("lvRmid")->toPlainText(), "<script>=x");
  EXPECT_EQ(sender->toPlainText(), "spam@x");
  EXPECT_EQ(rules->count(), 2);
  // Nothing is saved before the window closes.
  EXPECT_TRUE(LoadFilterLists(*store).Subject.empty());

  // An entry the store cannot hold keeps the window open.
  Find<QPlainTextEdit>("lvRdeliver")->setPlainText(QString(200, QChar(0x4E2D)));
  window->close();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(Find<QTabWidget>("PageControl1")->currentIndex(), 4);
  Find<QPlainTextEdit>("lvRdeliver")->setPlainText("list@example.org");
  window->close();
  EXPECT_FALSE(window->isVisible());
  window.reset();

  TFilterLists saved = LoadFilterLists(*store);
  EXPECT_EQ(saved.Subject, (std::vector<std::string>{"CHEAP", "发票"}));
  EXPECT_EQ(saved.Sender, (std::vector<std::string>{"spam@x"}));
  EXPECT_EQ(saved.Length, (std::vector<std::string>{">=2048", "==100"}));
  EXPECT_EQ(saved.Recipient, (std::vector<std::string>{"list@example.org"}));
}

TEST_F(SettingsWindowTest, IpPageEditsTheUsersRowsAndShowsEveryRowOnRequest) {
  const fs::path delivered = home.path() / "modal" / "ip.dat";
  std::string error;
  fs::create_directories(delivered.parent_path());
  ASSERT_TRUE(ExportIpTable(delivered,
                            {{"010.000.000.000", "010.255.255.255", "内网", "A"},
                             {"202.000.000.000", "202.255.255.255", "亚洲", "B"}},
                            &error));
  Open();
  auto* view = Find<QTableView>("lvIP");
  auto* all = Find<QCheckBox>("chkIpAll");
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->isEnabled(); }));
  EXPECT_EQ(view->model()->rowCount(), 0);
  all->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->isEnabled(); }));
  EXPECT_EQ(view->model()->rowCount(), 2);
  window->close();
  window.reset();
  EXPECT_FALSE(fs::exists(home.path() / "modal" / "IPuser.dat"));

  Open();
  view = Find<QTableView>("lvIP");
  all = Find<QCheckBox>("chkIpAll");
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->isEnabled(); }));
  // Typed into the template: each dot moves on to the next octet.
  auto* start = Find<QLineEdit>("meIPstart");
  EXPECT_EQ(start->displayText(), "   .   .   .   ");
  start->setCursorPosition(0);
  QTest::keyClicks(start, "202.96.1.7");
  Type("meIPstop", "202.096.001.255");
  Type("edtArea", "北京");
  Type("edtPlace", "某处");
  Click("SpeedButton27");
  ASSERT_EQ(view->model()->rowCount(), 1);
  EXPECT_EQ(view->model()->index(0, 0).data().toString(), "202.096.001.007");

  Type("meIPstart", "300.1.1.1");
  Click("SpeedButton27");  // not an address: refused, nothing added
  EXPECT_EQ(view->model()->rowCount(), 1);
  ASSERT_EQ(dialogs.Shown.size(), 1u);

  // Every row, the typed one among them, without editing; then the user's again.
  all->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->isEnabled(); }));
  EXPECT_EQ(view->model()->rowCount(), 3);
  EXPECT_FALSE(Find<QWidget>("SpeedButton27")->isEnabled());
  all->click();
  EXPECT_EQ(view->model()->rowCount(), 1);
  EXPECT_TRUE(Find<QWidget>("SpeedButton27")->isEnabled());

  const fs::path exported = home.path() / "setting" / "IpSeek.dat";
  dialogs.FileNames = {QString::fromStdString(exported.string())};
  Click("SpeedButton54");
  EXPECT_EQ(dialogs.FileDialogFolders.back().toStdString(), exported.string());
  EXPECT_EQ(dialogs.Shown.back().Text, "文件已被导出！");
  EXPECT_EQ(fs::file_size(exported), kIpRecordSize);

  view->setCurrentIndex(view->model()->index(0, 0));
  Click("SpeedButton32");
  EXPECT_EQ(view->model()->rowCount(), 0);
  EXPECT_EQ(Find<QLineEdit>("edtArea")->text(), "北京");
  dialogs.FileNames = {QString::fromStdString(exported.string())};
  Click("SpeedButton53");
  EXPECT_EQ(dialogs.Shown.back().Caption, "成功！");
  EXPECT_EQ(view->model()->rowCount(), 1);
  dialogs.FileNames = {QString::fromStdString((home.path() / "missing.dat").string())};
  Click("SpeedButton53");
  EXPECT_EQ(dialogs.Shown.back().Text, "导入被禁止！");
  all->click();  // saved as the user's rows whatever is shown
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->isEnabled(); }));
  window->close();
  window.reset();

  auto saved = ReadIpTableFile(home.path() / "modal" / "IPuser.dat");
  ASSERT_TRUE(saved);
  EXPECT_EQ(*saved, *ReadIpTableFile(exported));
}

TEST_F(SettingsWindowTest, AWholeCopyOfTheDeliveredTableIsOfferedSlimmingOnce) {
  std::vector<TIpRecord> table;
  for (int i = 0; i < 1000; ++i) {
    const QString start = QStringLiteral("%1.%2.000.000")
                              .arg(1 + i / 200, 3, 10, QChar('0'))
                              .arg(i % 200, 3, 10, QChar('0'));
    table.push_back({start.toStdString(), start.left(12).toStdString() + "255", "区", "地"});
  }
  fs::create_directories(home.path() / "modal");
  ASSERT_TRUE(ExportIpTable(home.path() / "modal" / "ip.dat", table));
  table.push_back({"222.000.000.000", "222.000.000.255", "我的", "地"});
  ASSERT_TRUE(ExportIpTable(home.path() / "modal" / "IPuser.dat", table));
  dialogs.Answers = {TAnswer::Yes};
  Open();
  auto* view = Find<QTableView>("lvIP");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.Shown.empty(); }));
  EXPECT_TRUE(dialogs.Shown.back().Text.contains("1000"));
  EXPECT_EQ(view->model()->rowCount(), 1);
  EXPECT_EQ(fs::file_size(home.path() / "modal" / "IPuser.dat"), kIpRecordSize);
  CloseByEscape();
  // Asked once only; the command line still slims.
  ASSERT_TRUE(ExportIpTable(home.path() / "modal" / "IPuser.dat", table));
  Open();
  view = Find<QTableView>("lvIP");
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->isEnabled(); }));
  EXPECT_EQ(view->model()->rowCount(), 1001);
  EXPECT_EQ(dialogs.Shown.size(), 1u);
  CloseByEscape();
}

TEST_F(SettingsWindowTest, TableThatCannotBeReadLocksThePageAndIsNotReplaced) {
  fs::create_directories(home.path() / "modal" / "IPuser.dat");  // unreadable as a file
  Open();
  auto* loading = Find<QLabel>("ipLoading");
  ASSERT_TRUE(QTest::qWaitFor([&] { return loading->text().contains("不能读取"); }));
  EXPECT_FALSE(Find<QTableView>("lvIP")->isEnabled());
  CloseByEscape();
  EXPECT_TRUE(fs::is_directory(home.path() / "modal" / "IPuser.dat"));
}

}  // namespace
}  // namespace pelorix::gui
