// The main window driven through its own actions on the offscreen platform,
// against a real Dovecot where mail is needed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "app/commands.h"
#include "engine/letter_fetch.h"
#include "engine/quarantine.h"
#include "engine/record_files.h"
#include "engine/run_lock.h"
#include "gui/gui_main.h"
#include "gui/mail_list_delegate.h"
#include "gui/mail_list_model.h"
#include "gui/main_window.h"
#include "gui/outlook_bar.h"
#include "gui/settings_window.h"
#include "gui/tray.h"
#include "gui/wait_until.h"
#include "scripted_dialogs.h"
#include "store/accounts.h"
#include "store/connection_security.h"
#include "store/filter_lists.h"
#include "store/mail_plan.h"
#include "store/oauth.h"
#include "store/oauth_account.h"
#include "store/settings_store.h"
#include "support/dovecot.h"
#include "support/oauth_server.h"
#include "support/tls_certs.h"
#include "window_fixture.h"

namespace pelorix::gui {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Scripted dialogs that can act while a box is "open" (a worker then waits
// in the sink for the answer).
class THookedDialogs final : public TDialogs {
 public:
  THookedDialogs() { SetDialogs(this); }
  ~THookedDialogs() override { SetDialogs(nullptr); }

  std::function<void()> OnMessage;
  testing::TScriptedDialogs Script;  // installs itself first; replaced above

  TAnswer Message(QWidget* w, const QString& c, const QString& t, TButtons b, TIcon i) override {
    if (OnMessage) {
      auto hook = std::move(OnMessage);
      OnMessage = nullptr;
      hook();
    }
    return Script.Message(w, c, t, b, i);
  }
  void Notice(QWidget* w, const QString& c, const QString& t, TIcon i) override {
    Script.Notice(w, c, t, i);
  }
  QString OpenFileName(QWidget* w, const QString& t, const QString& f, const QString& x) override {
    return Script.OpenFileName(w, t, f, x);
  }
  QString SaveFileName(QWidget* w, const QString& t, const QString& p, const QString& x) override {
    return Script.SaveFileName(w, t, p, x);
  }
  bool OpenUrl(const QString& url) override { return Script.OpenUrl(url); }
  QStringList Texts() const {
    QStringList l;
    for (const auto& s : Script.Shown)
      l << s.Text;
    return l;
  }
};

std::string Mail(const std::string& from, const std::string& subject, const std::string& id) {
  return "Received: from mx.example.org ([61.135.1.2]) by pop.example.org\nFrom: " + from +
         "\nTo: alice@example.org\nSubject: " + subject + "\nMessage-ID: " + id +
         "\nDate: Tue, 08 Dec 2026 10:00:00 +0000\n\nbody of " + subject + "\n";
}

TMailRow MakeRow(const std::string& sender, const std::string& size, bool checked = false,
                 const std::string& mark = "") {
  TMailRow r;
  r.Items[mcSender] = sender;
  r.Items[mcSize] = size;
  r.Items[mcDeletionMark] = mark;
  r.Items[mcCharsetType] = "gb2312[text/plain]";
  r.Items[mcMessageKey] = "<" + sender + ">";
  r.Checked = checked;
  return r;
}

class MainWindow : public TWindowFixture {
 protected:
  void Plan(bool checkSummary, int floodLimit = 0) {
    TMailPlan plan;
    plan.Load(*store_);
    plan.CheckSummary = checkSummary;
    plan.ClearMoreRub = floodLimit > 0;
    plan.ClearMoreRubNum = floodLimit;
    ASSERT_TRUE(plan.Save(*store_));
  }
  TfrmReport& Open() {
    window_ = std::make_unique<TfrmReport>(home_, *store_);
    return *window_;
  }
  QAction* Act(const char* name) {
    auto* a = window_->findChild<QAction*>(QString::fromLatin1(name));
    EXPECT_NE(a, nullptr) << name;
    return a;
  }
  void WaitIdle() {
    for (int i = 0; i < 600 && window_->Running(); ++i)
      QTest::qWait(50);
    ASSERT_FALSE(window_->Running());
  }
  std::vector<TMailRow> Rows() { return window_->State().MailList.Rows(); }

  THookedDialogs dialogs_;
};

TEST_F(MainWindow, StartsWithCaptionPanelsAndOneGroupPerAccount) {
  ASSERT_TRUE(SaveAccounts(*store_, {{"pop.a.example", "ann", "pw", "工作"},
                                     {"pop.b.example", "bob", "pw", "工作"},
                                     {"pop.c.example", "cy", "pw", ""}}));
  fs::create_directories(home_ / "tmp" / "deleted");
  std::ofstream(home_ / "tmp" / "old.new") << "x";
  std::ofstream(home_ / "tmp" / "deleted" / "kept.del") << "x";
  TfrmReport& w = Open();

  EXPECT_EQ(w.windowTitle().left(31), QStringLiteral("Tolvane-Pelorix-Grisvald  Ver: "));
  EXPECT_EQ(w.windowTitle().mid(31).split('.').size(), 4);
  TOutlookBar* bar = w.OutlookBar();
  ASSERT_EQ(bar->GroupCount(), 4);
  EXPECT_EQ(bar->GroupCaption(0), QStringLiteral("所有信箱"));
  EXPECT_EQ(bar->ButtonCaption(0, 0), QStringLiteral("最新邮件"));
  EXPECT_EQ(bar->GroupCaption(1), QStringLiteral("工作"));
  EXPECT_EQ(bar->GroupCaption(2), QStringLiteral("工作[1]"));
  EXPECT_EQ(bar->GroupCaption(3), QStringLiteral("cy[pop.c.example]"));
  EXPECT_EQ(bar->ButtonCaption(3, 2), QStringLiteral("已删除邮件"));
  // The account menu: "所有信箱" ticked, then the keys.
  QMenu* menu = w.AccountMenu();
  emit menu->aboutToShow();
  QStringList items;
  for (QAction* a : menu->actions())
    items << a->text() + (a->isChecked() ? "*" : "");
  EXPECT_EQ(items, QStringList({"所有信箱*", "ann[pop.a.example]", "bob[pop.b.example]",
                                "cy[pop.c.example]"}));
  // The last column, the score, shows at the first size, which fits a
  // 1280-wide screen.
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  EXPECT_LE(w.frameGeometry().width(), 1280);
  const int score = w.List()->model()->columnCount() - 1;
  EXPECT_LE(w.List()->columnViewportPosition(score) + 30, w.List()->viewport()->width());
  EXPECT_EQ(w.StatusPanel(1), QStringLiteral("邮箱数："));
  EXPECT_EQ(w.StatusPanel(5), QStringLiteral("状态："));
  EXPECT_EQ(w.BriefLines(), QStringList({"邮件检测报告", "=============", "Tolvane"}));
  // The former run's files are gone, records of deleted mail stay.
  EXPECT_FALSE(fs::exists(home_ / "tmp" / "old.new"));
  EXPECT_TRUE(fs::exists(home_ / "tmp" / "deleted" / "kept.del"));
}

TEST_F(MainWindow, AssistiveTechnologyPressesCommandsTogglesPagesAndReadsPanels) {
  ASSERT_TRUE(SaveAccounts(*store_, {{"127.0.0.1:1", "ann", "pw", ""}}));  // nothing listens
  TfrmReport& w = Open();
  auto iface = [&](const char* name) {
    auto* widget = w.findChild<QWidget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    QAccessibleInterface* i = QAccessible::queryAccessibleInterface(widget);
    EXPECT_TRUE(i && i->actionInterface()) << name;
    return i;
  };
  const QString press = QAccessibleActionInterface::pressAction();
  for (const char* name : {"sbtnCheckHeaderButton", "sbtnCheckContentButton", "sbtnClearButton",
                           "sbtnStopButton", "sbtnPropButton", "sbtnMailPropButton"})
    EXPECT_TRUE(iface(name)->actionInterface()->actionNames().contains(press)) << name;
  // The account menus on their chevrons, named after their command.
  QAccessibleInterface* chevron = iface("sbtnCheckHeaderAccounts");
  EXPECT_EQ(chevron->text(QAccessible::Name), QStringLiteral("查摘要：选择信箱"));
  EXPECT_TRUE(chevron->actionInterface()->actionNames().contains(
      QAccessibleActionInterface::showMenuAction()));

  // A press starts the check.
  iface("sbtnCheckHeaderButton")->actionInterface()->doAction(press);
  EXPECT_TRUE(w.Running());
  WaitIdle();
  EXPECT_THAT(w.EventLines().join('\n').toStdString(), HasSubstr("ann"));

  // Page buttons toggled without a click show their page.
  auto* pages = w.findChild<QWidget*>(QStringLiteral("nbPages"));
  for (auto* b : w.findChildren<QToolButton*>()) {
    if (b->text() == QStringLiteral("事件")) {
      QAccessible::queryAccessibleInterface(b)->actionInterface()->doAction(
          QAccessibleActionInterface::toggleAction());
    }
  }
  EXPECT_EQ(pages->property("currentIndex").toInt(), 2);
  // So do the outlook bar's: the account's view of its new mail.
  QAccessible::queryAccessibleInterface(w.OutlookBar()->Button(1, 0))
      ->actionInterface()
      ->doAction(QAccessibleActionInterface::toggleAction());
  EXPECT_THAT(w.StatusPanel(4).toStdString(), HasSubstr("ann[127.0.0.1:1]"));

  // Status panels read what they show.
  emit w.AccountMenu()->aboutToShow();
  w.AccountMenuChosen(w.AccountMenu()->actions().back(), 0);
  QAccessibleInterface* panel =
      QAccessible::queryAccessibleInterface(w.findChild<QLabel*>(QStringLiteral("panel4")));
  EXPECT_EQ(panel->text(QAccessible::Name), w.StatusPanel(4));
  EXPECT_EQ(w.StatusPanel(4), QStringLiteral("当前设置为查看ann[127.0.0.1:1]"));
}

TEST_F(MainWindow, SecondWindowOnTheSameHomeLeavesAtOnce) {
  TFileLock first;
  ASSERT_TRUE(first.TryLock(InstanceLockPath(home_)));
  EXPECT_EQ(RunWindow(home_, {}), 0);
  for (QWidget* w : QApplication::topLevelWidgets())
    EXPECT_NE(w->objectName(), QStringLiteral("frmReport"));
  EXPECT_TRUE(first.Locked());
}

TEST_F(MainWindow, CheckWithoutAccountsTellsAndEnablesTheButtonsAgain) {
  TfrmReport& w = Open();
  Act("sbtnCheckHeader")->trigger();
  EXPECT_THAT(dialogs_.Texts(), ElementsAre("你必须指定至少一个邮件帐号才能检查!"));
  EXPECT_EQ(dialogs_.Script.Shown[0].Caption, QStringLiteral("帐号设置错误！"));
  EXPECT_TRUE(Act("sbtnCheckHeader")->isEnabled());
  EXPECT_TRUE(Act("sbtnCheckContent")->isEnabled());
  EXPECT_FALSE(w.Running());
}

TEST_F(MainWindow, HeaderCheckTickAndClearAgainstDovecot) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  dovecot.AddUser("alice", "a-pw",
                  {Mail("one@example.org", "first", "<m1@example.org>"),
                   Mail("two@example.org", "second", "<m2@example.org>"),
                   Mail("three@example.org", "third", "<m3@example.org>")});
  dovecot.Start();
  const std::string host = dovecot.HostPort();
  ASSERT_TRUE(SaveAccounts(*store_, {{host, "alice", "a-pw", "Alice"}}));
  Plan(true, 2);  // three messages raise the flood question
  TfrmReport& w = Open();

  // While the worker waits for the answer the run is under way: "清除" does
  // nothing, a second check is refused, and the command line is refused too.
  int cliStatus = -1;
  std::ostringstream cliErr;
  dialogs_.Script.DefaultAnswer = TAnswer::No;  // no emptying of the mailbox
  dialogs_.OnMessage = [&] {
    EXPECT_TRUE(w.Running());
    Act("sbtnClear")->trigger();
    EXPECT_FALSE(w.State().DeleteQueue.has_value());
    Act("sbtnCheckHeader")->trigger();  // disabled: nothing
    w.CheckHeaders();
    std::ostringstream out;
    cliStatus = RunCommandLine({"--home", home_.string(), "delete"}, out, cliErr);
  };
  Act("sbtnCheckHeader")->trigger();
  EXPECT_FALSE(Act("sbtnCheckHeader")->isEnabled());
  WaitIdle();
  EXPECT_EQ(cliStatus, 1);
  EXPECT_THAT(cliErr.str(), HasSubstr("正在检测邮件！"));
  ASSERT_GE(dialogs_.Script.Shown.size(), 2u);
  // The hook's box first, then the question it interrupted.
  EXPECT_EQ(dialogs_.Script.Shown[0].Text, QStringLiteral("正在检测邮件！"));
  EXPECT_EQ(dialogs_.Script.Shown[1].Caption, QStringLiteral("Warning!"));

  ASSERT_EQ(w.Model().rowCount(), 3);
  EXPECT_EQ(w.StatusPanel(1), QStringLiteral("邮箱：1个"));
  EXPECT_THAT(w.StatusPanel(3).toStdString(), HasSubstr("占用空间："));
  EXPECT_FALSE(w.EventLines().isEmpty());
  EXPECT_EQ(w.OutlookBar()->ButtonCaption(1, 0), QStringLiteral("新到邮件 (3)"));
  EXPECT_EQ(w.BriefLines().front(), QStringLiteral("邮件检测报告"));
  // The brief reaches its page when the page is shown.
  w.ShowPage(1);
  EXPECT_EQ(w.findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText().split('\n'),
            w.BriefLines());
  w.ShowPage(0);
  EXPECT_TRUE(fs::exists(AllRecordPath(home_)));
  EXPECT_TRUE(Act("sbtnCheckHeader")->isEnabled());
  EXPECT_EQ(w.Tray()->Tip(), QStringLiteral("新到邮件3封"));

  // Tick two rows: the tick box with the mouse, the second with the space bar.
  w.show();
  QTableView* list = w.List();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualRect(w.Model().index(0, 0)).center());
  list->setCurrentIndex(w.Model().index(2, 6));
  QTest::keyClick(list, Qt::Key_Space);
  std::vector<std::string> ticked;
  for (const auto& r : Rows())
    if (r.Checked)
      ticked.push_back(r.Items[mcMessageKey]);
  ASSERT_EQ(ticked.size(), 2u);

  Act("sbtnClear")->trigger();
  WaitIdle();
  const auto left = dovecot.Messages("alice");
  for (int i = 0; i < 50 && dovecot.MessageCount("alice") != 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(dovecot.MessageCount("alice"), 1u);
  for (const auto& id : ticked)
    EXPECT_THAT(dovecot.Messages("alice")[0], ::testing::Not(HasSubstr(id)));
  int marked = 0;
  for (const auto& r : Rows())
    marked += r.Items[mcDeletionMark] == "Deleted";
  EXPECT_EQ(marked, 2);
  EXPECT_TRUE(Act("sbtnClear")->isEnabled());
}

TEST_F(MainWindow, OAuthAccountSignedInInTheSettingsIsCheckedOverTlsWithItsToken) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  if (auto why = test::TOAuthServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TTestCertificates certs;
  certs.TrustCa();
  // Tokens live two seconds: each check finds its token ended.
  test::TOAuthServer oauth("client-1", "ann@example.com", 2);
  oauth.Start();
  test::TDovecotServer dovecot;
  dovecot.AddUser("ann@example.com", "unused",
                  {Mail("one@example.org", "first", "<o1@example.org>"),
                   Mail("two@example.org", "second", "<o2@example.org>")});
  dovecot.AddUser("bob", "b-pw", {Mail("three@example.org", "third", "<b1@example.org>")});
  dovecot.EnableTls(certs.Good().Cert, certs.Good().Key, true);
  dovecot.EnableOAuth2(oauth.Url("/introspect"));
  dovecot.Start();
  const std::string server = "127.0.0.2:" + std::to_string(dovecot.TlsPort());
  const std::string ann = "ann@example.com[" + server + "]";
  ASSERT_TRUE(SaveAccounts(*store_, {{server, "bob", "b-pw", ""}}));
  ASSERT_TRUE(WriteAccountSecurity(*store_, "bob[" + server + "]", "tls"));
  // Gmail's settings, but the local authorization server: the generic entry.
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store_, "OAuth\\custom", true, key));
  WriteTextValue(key, "ClientId", "client-1");
  WriteTextValue(key, "AuthorizationEndpoint", oauth.Url("/authorize"));
  WriteTextValue(key, "TokenEndpoint", oauth.Url("/token"));
  WriteTextValue(key, "RevocationEndpoint", oauth.Url("/revoke"));
  WriteTextValue(key, "Scope", "mail");
  Plan(true);
  struct TBrowsing {
    std::vector<std::thread> Threads;
    ~TBrowsing() {
      for (auto& t : Threads)
        t.join();
    }
  } browsing;
  dialogs_.Script.Browser = [&](const QString& url) {
    browsing.Threads.emplace_back([u = url.toStdString()] { test::TOAuthServer::BrowserGet(u); });
  };

  {
    TfrmProp settings(nullptr, home_, *store_);
    settings.show();
    auto* provider = settings.findChild<QComboBox*>(QStringLiteral("cboProvider"));
    ASSERT_NE(provider, nullptr);
    provider->setCurrentIndex(provider->findData(QStringLiteral("custom")));
    auto* security = settings.findChild<QComboBox*>(QStringLiteral("cboSecurity"));
    security->setCurrentIndex(security->findText(QStringLiteral("SSL/TLS")));
    auto* serverField = settings.findChild<QLineEdit*>(QStringLiteral("edtMpop"));
    serverField->clear();
    QTest::keyClicks(serverField, QString::fromStdString(server));
    QTest::keyClicks(settings.findChild<QLineEdit*>(QStringLiteral("edtMuser")), "ann@example.com");
    settings.findChild<QAbstractButton*>(QStringLiteral("SpeedButton12"))->click();
    auto* list = settings.findChild<QTreeWidget*>(QStringLiteral("lvmail"));
    for (int i = 0; i < list->topLevelItemCount(); ++i)
      if (list->topLevelItem(i)->text(1) == "ann@example.com")
        list->setCurrentItem(list->topLevelItem(i));
    settings.findChild<QAbstractButton*>(QStringLiteral("btnOAuthLogin"))->click();
    ASSERT_TRUE(WaitUntil([&] {
      return dialogs_.Texts().contains(QString::fromStdString("已登录：" + ann));
    })) << dialogs_.Texts().join('|').toStdString()
        << oauth.Log();
    QTest::keyClick(&settings, Qt::Key_Escape);  // closing saves
  }
  EXPECT_EQ(ReadAccountLogin(*store_, ann), "oauthbearer");

  // "查摘要" after the token has ended: the worker refreshes it and logs in.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  TfrmReport& w = Open();
  Act("sbtnCheckHeader")->trigger();
  WaitIdle();
  EXPECT_EQ(w.Model().rowCount(), 3) << w.EventLines().join('\n').toStdString() << dovecot.Log();
  EXPECT_FALSE(w.EventLines().join('\n').contains(QStringLiteral("失败原因")));

  // The refresh token revoked: that account alone asks for a new sign-in.
  ASSERT_TRUE(RevokeToken(*FindOAuthProvider(*store_, "custom"),
                          ReadOAuthTokens(*store_, ann).Refresh, nullptr));
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  Act("sbtnCheckHeader")->trigger();
  WaitIdle();
  EXPECT_EQ(w.Model().rowCount(), 1);
  EXPECT_THAT(w.EventLines().join('\n').toStdString(),
              HasSubstr("需要重新登录 (invalid_grant: Token has been revoked.)"));
}

TEST_F(MainWindow, ExitDuringARunStopsSavesAndEnds) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  std::vector<std::string> mails;
  for (int i = 0; i < 40; ++i)
    mails.push_back(
        Mail("s@example.org", "n" + std::to_string(i), "<n" + std::to_string(i) + "@x>"));
  dovecot.AddUser("alice", "a-pw", mails);
  dovecot.Start();
  ASSERT_TRUE(SaveAccounts(*store_, {{dovecot.HostPort(), "alice", "a-pw", ""}}));
  Plan(true);
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store_, "MailCheck", true, key));
  ASSERT_TRUE(store_->DeleteValue(key, "autocheck"));
  TfrmReport& w = Open();
  w.show();
  Act("sbtnCheckContent")->trigger();
  w.ExitProgram();  // whether the run is still going or not, it must end cleanly
  EXPECT_FALSE(w.isVisible());
  EXPECT_TRUE(fs::exists(AllRecordPath(home_)));
  // The check settings were saved: the removed value is back.
  TSettingsValue v;
  EXPECT_TRUE(store_->ReadValue(key, "autocheck", v));
  window_.reset();  // joins whatever worker is left
  EXPECT_EQ(dovecot.MessageCount("alice"), 40u);
}

TEST_F(MainWindow, CommandLineRunRefusesTheWindowsCheck) {
  ASSERT_TRUE(SaveAccounts(*store_, {{"127.0.0.1:1", "u", "pw", ""}}));
  TfrmReport& w = Open();
  TFileLock cli;
  ASSERT_TRUE(cli.TryLock(RunLockPath(home_)));
  Act("sbtnCheckContent")->trigger();
  EXPECT_THAT(dialogs_.Texts(), ElementsAre("正在检测邮件！"));
  EXPECT_FALSE(w.Running());
  // A scheduled check skips quietly.
  w.AutoCheck();
  EXPECT_EQ(dialogs_.Script.Shown.size(), 1u);
}

TEST_F(MainWindow, CheckAllHeaderSortingAndRowLook) {
  TfrmReport& w = Open();
  TMailList& list = w.State().MailList;
  list.Append(MakeRow("bob@x", "     120"));
  list.Append(MakeRow("Alice@x", "      90", false, "Deleted"));
  list.Append(MakeRow("carol@x", "    4000!"));
  list.Append(MakeRow("alice@y", "      10"));
  w.Model().Reload();
  QHeaderView* header = w.List()->horizontalHeader();

  emit header->sectionClicked(0);
  std::vector<bool> ticks;
  for (const auto& r : Rows())
    ticks.push_back(r.Checked);
  EXPECT_EQ(ticks, (std::vector<bool>{true, false, true, true}));
  emit header->sectionClicked(0);
  for (const auto& r : Rows())
    EXPECT_FALSE(r.Checked);

  auto senders = [&] {
    std::vector<std::string> s;
    for (const auto& r : Rows())
      s.push_back(r.Items[mcSender]);
    return s;
  };
  emit header->sectionClicked(6);  // "发件人": ascending, letters folded, stable
  EXPECT_EQ(senders(), (std::vector<std::string>{"Alice@x", "alice@y", "bob@x", "carol@x"}));
  emit header->sectionClicked(6);
  EXPECT_EQ(senders(), (std::vector<std::string>{"carol@x", "bob@x", "alice@y", "Alice@x"}));
  emit header->sectionClicked(5);  // the padded length sorts by value, ascending again
  EXPECT_EQ(senders(), (std::vector<std::string>{"alice@y", "Alice@x", "bob@x", "carol@x"}));

  // Colours are Windows colour references (blue-green-red) converted to RGB.
  TMailListModel& m = w.Model();
  EXPECT_EQ(m.index(0, 5).data(Qt::ForegroundRole).value<QColor>(), QColor(0, 0, 255));
  EXPECT_EQ(m.index(0, 6).data(Qt::ForegroundRole).value<QColor>(), QColor(0, 128, 0));
  EXPECT_EQ(m.index(3, 6).data(Qt::ForegroundRole).value<QColor>(), QColor(128, 128, 128));
  EXPECT_EQ(m.index(3, 5).data().toString(), QStringLiteral("    4000"));
  EXPECT_EQ(m.index(3, 0).data(ImageRole).toInt(), riTickGone);
  EXPECT_EQ(m.index(1, 1).data(ImageRole).toInt(), riDeleted);
  EXPECT_EQ(m.index(0, 4).data(ImageRole).toInt(), riTextPlain);
  EXPECT_EQ(m.index(1, 0).data(Qt::AccessibleTextRole).toString(), QStringLiteral("未选"));
  EXPECT_EQ(m.index(0, 6).data(Qt::AccessibleTextRole).toString(), QStringLiteral("alice@y"));
  EXPECT_EQ(ColorFromRef(kListBackground), QColor(255, 251, 247));

  // A long subject is cut to (width div w) - 5 characters and "...".
  EXPECT_EQ(CutToColumn("abcdefghijklmnopqrstuvwxyz", 26 * 6, 6, 100), "abcdefghi...");
  EXPECT_EQ(CutToColumn("abc", 18, 6, 100), "abc");
  EXPECT_EQ(CutToColumn("全场五折仅限今天", 8 * 12, 6, 100), "全场五折...");
}

TEST_F(MainWindow, PreviewShowsTheHeaderBlockAndTheText) {
  TfrmReport& w = Open();
  TMailRow row = MakeRow("ann@x", "      12");
  row.Items[mcPriority] = "9";
  row.Items[mcSubject] = "你好";
  row.Items[mcMessageKey] = "<k.1@x>";
  w.State().MailList.Append(row);
  w.Model().Reload();
  std::ofstream(home_ / "tmp" / "deleted" / KeyFileName("<k.1@x>")) << "<p>line one</p>\r\n";
  w.PreviewRow(0);
  const QStringList lines = w.PreviewText().split('\n');
  ASSERT_GE(lines.size(), 11);
  EXPECT_EQ(lines[1], QStringLiteral("优先级：普通"));
  EXPECT_EQ(lines[5], QStringLiteral("标题：你好"));
  EXPECT_EQ(lines[6], QStringLiteral("发件人：ann@x"));
  EXPECT_EQ(lines[8], QString(32, '='));
  EXPECT_THAT(lines.mid(10).join('\n').toStdString(), HasSubstr("line one"));
  EXPECT_EQ(w.Model().index(0, 3).data(ImageRole).toInt(), -1);
}

TEST_F(MainWindow, AHeaderCheckedLetterBringsItsTextFromTheServerWhenOpened) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  dovecot.AddUser("alice", "a-pw",
                  {Mail("one@example.org", "first", "<m1@example.org>"),
                   Mail("two@example.org", "second", "<m2@example.org>")});
  dovecot.Start();
  ASSERT_TRUE(SaveAccounts(*store_, {{dovecot.HostPort(), "alice", "a-pw", ""}}));
  Plan(true);
  TfrmReport& w = Open();
  Act("sbtnCheckHeader")->trigger();
  WaitIdle();
  ASSERT_EQ(w.Model().rowCount(), 2);
  int second = w.Model().Row(0).Items[mcMessageKey] == "<m2@example.org>" ? 0 : 1;

  // The preview: the header block at once, the text once it is fetched.
  w.List()->setCurrentIndex(w.Model().index(second, 5));
  EXPECT_THAT(w.PreviewText().toStdString(), HasSubstr("正在从服务器取回信件内容"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.PreviewText().contains("body of second"); }, 20000));
  EXPECT_TRUE(fs::exists(home_ / "tmp" / (KeyFileName("<m2@example.org>") + ".txt")));
  EXPECT_THAT(w.StatusPanel(5).toStdString(), HasSubstr("取回"));

  // The letter window, for a message gone from the server in between: one line.
  dovecot.Stop();
  test::TDovecotServer other;
  other.AddUser("alice", "a-pw", {Mail("x@example.org", "other", "<x@example.org>")});
  other.Start();
  ASSERT_TRUE(SaveAccounts(*store_, {{other.HostPort(), "alice", "a-pw", ""}}));
  TMailRow row = w.Model().Row(1 - second);
  row.Items[mcAccountKey] = "alice[" + other.HostPort() + "]";
  w.State().MailList.Clear();
  w.State().MailList.Append(row);
  w.Model().Reload();
  w.List()->setCurrentIndex(w.Model().index(0, 5));
  w.OpenLetter();  // the preview's fetch, under way, opens the window when done
  QWidget* letter = nullptr;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return (letter = w.findChild<QWidget*>(QStringLiteral("TfrmMailprop"))) != nullptr; },
      20000));
  const QString text = letter->findChild<QPlainTextEdit*>(QStringLiteral("memText"))->toPlainText();
  EXPECT_THAT(text.toStdString(), HasSubstr("已经没有这封信"));
  EXPECT_FALSE(text.contains('\n'));
  EXPECT_THAT(
      letter->findChild<QPlainTextEdit*>(QStringLiteral("memProp"))->toPlainText().toStdString(),
      HasSubstr("Subject: first"));
  EXPECT_EQ(other.MessageCount("alice"), 1u);

  // Switched off: nothing is fetched.
  Act("mnuFetchLetters")->trigger();
  EXPECT_FALSE(FetchLettersOnDemand(*store_));
}

TEST_F(MainWindow, SavedListReloadsWithTicksAndUnchangedTypeColumn) {
  TfrmReport& w = Open();
  w.State().MailList.Append(MakeRow("a@x", "       1", true));
  w.State().MailList.Append(MakeRow("b@x", "       2", false));
  w.Model().Reload();
  const QString file = QString::fromStdString((home_ / "saved.NFL").string());
  dialogs_.Script.FileNames = {file, file};
  Act("mnuSaveList")->trigger();
  EXPECT_THAT(dialogs_.Script.FileDialogFolders[0].toStdString(), HasSubstr(".NFL"));
  w.State().MailList.Clear();
  w.Model().Reload();
  Act("mnuOpenList")->trigger();
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(rows[0].Checked);
  EXPECT_FALSE(rows[1].Checked);
  EXPECT_EQ(rows[0].Items[mcVerdictMark], "Yes");
  EXPECT_EQ(rows[1].Items[mcVerdictMark], "");
  EXPECT_EQ(rows[0].Items[mcCharsetType], "gb2312[text/plain]");
  EXPECT_EQ(w.Model().rowCount(), 2);
}

TEST_F(MainWindow, OutlookButtonsLoadTheAccountsRecordFiles) {
  ASSERT_TRUE(SaveAccounts(
      *store_, {{"pop.a.example", "ann", "pw", "Ann's box"}, {"pop.b.example", "bob", "pw", ""}}));
  TfrmReport& w = Open();
  auto write = [&](const fs::path& p, const std::string& subject) {
    TMailRecord r;
    r.Subject = subject;
    ASSERT_TRUE(WriteRecordFile(p, {r}));
  };
  write(NewRecordPath(home_, "ann2pop.a.example"), "ann new");
  write(SpamRecordPath(home_, "ann2pop.a.example"), "ann spam");
  write(DeletedRecordPath(home_, "bob2pop.b.example"), "bob deleted");
  write(AllRecordPath(home_), "all");
  auto subjects = [&] {
    QStringList l;
    for (int r = 0; r < w.Model().rowCount(); ++r)
      l << w.Model().index(r, 7).data().toString();
    return l;
  };
  TOutlookBar* bar = w.OutlookBar();
  bar->SetButtonCaption(1, 0, QStringLiteral("新到邮件 (4)"));  // counts do not matter
  emit bar->ButtonClicked(1, 0);
  EXPECT_EQ(subjects(), QStringList{"ann new"});
  EXPECT_EQ(w.StatusPanel(4), QStringLiteral("当前设置：查看信箱为 ann[pop.a.example]"));
  emit bar->ButtonClicked(1, 1);
  EXPECT_EQ(subjects(), QStringList{"ann spam"});
  EXPECT_EQ(w.StatusPanel(4), QStringLiteral("当前设置：查看信箱为 Ann's box"));
  emit bar->ButtonClicked(2, 2);
  EXPECT_EQ(subjects(), QStringList{"bob deleted"});
  emit bar->ButtonClicked(2, 1);  // no file: an empty list
  EXPECT_TRUE(subjects().isEmpty());
  emit bar->ButtonClicked(0, 0);
  EXPECT_EQ(subjects(), QStringList{"all"});
  EXPECT_EQ(w.StatusPanel(4), QStringLiteral("当前设置为查看所有信箱"));

  // An account menu item ticks itself and opens the group of the same name.
  QMenu* menu = w.AccountMenu();
  emit menu->aboutToShow();
  QAction* bob = menu->actions().at(2);
  w.AccountMenuChosen(bob, 0);
  EXPECT_TRUE(bob->isChecked());
  EXPECT_FALSE(menu->actions().at(0)->isChecked());
  EXPECT_EQ(bar->ActiveGroup(), 2);
  EXPECT_EQ(w.StatusPanel(4), QStringLiteral("当前设置为查看bob[pop.b.example]"));
  EXPECT_FALSE(w.Running());
}

TEST_F(MainWindow, PurgesRemoveDeletedRecordsAndTheirFiles) {
  ASSERT_TRUE(SaveAccounts(*store_, {{"pop.a.example", "ann", "pw", "Ann"}}));
  TfrmReport& w = Open();
  const fs::path deleted = DeletedFolder(home_), tmp = TmpFolder(home_);
  TMailRecord rec;
  rec.MessageKey = "<gone@x>";
  const std::string key = KeyFileName(rec.MessageKey);
  ASSERT_TRUE(WriteRecordFile(DeletedRecordPath(home_, "ann2pop.a.example"), {rec}));
  for (const fs::path& p : {deleted / key, deleted / (key + ".txt"), deleted / (key + ".msg"),
                            tmp / key, deleted / "other.del"})
    std::ofstream(p) << "x";
  const fs::path copy = QuarantineMessage(home_, rec.MessageKey, "Message-ID: <gone@x>\r\n\r\n");
  const fs::path otherCopy = QuarantineMessage(home_, "<kept@x>", "Message-ID: <kept@x>\r\n\r\n");
  w.State().MailList.Append(MakeRow("a@x", "1"));
  w.Model().Reload();

  w.OutlookBar()->SetActiveGroup(0);  // "所有信箱" has no record file: nothing changes
  Act("mnuPurgeCurrent")->trigger();
  EXPECT_EQ(w.Model().rowCount(), 1);

  w.OutlookBar()->SetActiveGroup(1);
  Act("mnuPurgeCurrent")->trigger();
  EXPECT_EQ(w.Model().rowCount(), 0);
  EXPECT_FALSE(fs::exists(DeletedRecordPath(home_, "ann2pop.a.example")));
  EXPECT_FALSE(fs::exists(deleted / key));
  EXPECT_FALSE(fs::exists(deleted / (key + ".msg")));
  EXPECT_FALSE(fs::exists(tmp / key));
  EXPECT_FALSE(fs::exists(copy));
  EXPECT_TRUE(fs::exists(deleted / "other.del") && fs::exists(otherCopy));

  Act("mnuPurgeAll")->trigger();
  EXPECT_TRUE(fs::is_empty(deleted));
}

}  // namespace
}  // namespace pelorix::gui
