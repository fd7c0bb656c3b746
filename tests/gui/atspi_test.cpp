// The main window driven by a screen reader's road only: a Python client of
// the accessibility bus (tests/gui/atspi_drive.py) presses "查摘要", reads
// the rows and the status panels, ticks the rows and presses "清除", against
// a real Dovecot. Runs under Xvfb with a private session bus; skipped where
// they are missing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include "gui/main_window.h"
#include "scripted_dialogs.h"
#include "store/accounts.h"
#include "store/mail_plan.h"
#include "support/dovecot.h"
#include "window_fixture.h"

namespace pelorix::gui {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

std::string Mail(const std::string& from, const std::string& subject, const std::string& id) {
  return "Received: from mx.example.org ([61.135.1.2]) by pop.example.org\nFrom: " + from +
         "\nTo: alice@example.org\nSubject: " + subject + "\nMessage-ID: " + id +
         "\nDate: Tue, 08 Dec 2026 10:00:00 +0000\n\nbody\n";
}

class AtSpi : public TWindowFixture {
 protected:
  testing::TScriptedDialogs dialogs_;
};

TEST_F(AtSpi, AScreenReaderChecksTicksAndClearsWithoutAMouse) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb") ||
      qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
    GTEST_SKIP() << "needs an X display and a session bus (xvfb-run, dbus-run-session)";
  if (QProcess::execute(QStringLiteral(PELORIX_ATSPI_PYTHON), {"-c", "import pyatspi"}) != 0)
    GTEST_SKIP() << "python3-pyatspi is not installed";
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  dovecot.AddUser("alice", "a-pw",
                  {Mail("one@example.org", "first", "<m1@example.org>"),
                   Mail("two@example.org", "second", "<m2@example.org>")});
  dovecot.Start();
  ASSERT_TRUE(SaveAccounts(*store_, {{dovecot.HostPort(), "alice", "a-pw", "Alice"}}));
  TMailPlan plan;
  plan.Load(*store_);
  plan.CheckSummary = true;  // the rows, not only the counts
  ASSERT_TRUE(plan.Save(*store_));
  window_ = std::make_unique<TfrmReport>(home_, *store_);
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));

  QProcess driver;
  driver.start(
      QStringLiteral(PELORIX_ATSPI_PYTHON),
      {QStringLiteral(PELORIX_ATSPI_DRIVER), QString::number(QApplication::applicationPid())});
  ASSERT_TRUE(driver.waitForStarted());
  // The window answers the bus from this thread: keep its loop running.
  ASSERT_TRUE(QTest::qWaitFor([&] { return driver.state() == QProcess::NotRunning; }, 180000));
  const QString errors = QString::fromUtf8(driver.readAllStandardError());
  ASSERT_EQ(driver.exitCode(), 0) << errors.toStdString();
  const QJsonObject read = QJsonDocument::fromJson(driver.readAllStandardOutput()).object();

  EXPECT_THAT(read["check_actions"].toVariant().toStringList(), Contains(QStringLiteral("Press")));
  EXPECT_EQ(read["accounts"].toString(), QStringLiteral("邮箱：1个"));
  EXPECT_EQ(read["state"].toString(), QStringLiteral("新到邮件：2"));
  EXPECT_THAT(read["panels"].toVariant().toStringList(), Contains(QStringLiteral("邮件：2封")));
  const QJsonArray rows = read["rows"].toArray();
  ASSERT_EQ(rows.size(), 2);
  QStringList senders;
  for (const auto& row : rows)
    senders << row.toArray().at(6).toString();
  senders.sort();
  EXPECT_EQ(senders, QStringList({"one@example.org", "two@example.org"}));
  EXPECT_EQ(rows[0].toArray().at(0).toString(), QStringLiteral("未选"));
  EXPECT_EQ(read["ticked"].toArray()[0].toArray().at(0).toString(), QStringLiteral("已选"));
  EXPECT_THAT(read["cleared"].toString().toStdString(), HasSubstr("检测完毕"));
  for (int i = 0; i < 50 && dovecot.MessageCount("alice") != 0; ++i)
    QTest::qWait(100);
  EXPECT_EQ(dovecot.MessageCount("alice"), 0u);
}

}  // namespace
}  // namespace pelorix::gui

int main(int argc, char** argv) {
  // The bridge to the bus comes up without a screen reader running.
  qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
  if (qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
