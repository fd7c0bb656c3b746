// The letter window on the offscreen platform: filling, saving, replying
// through a real SMTP server.

#include "gui/letter_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QThread>
#include <chrono>
#include <functional>

#include "engine/mail_list.h"
#include "gui/scripted_dialogs.h"
#include "gui/wait_until.h"
#include "store/connection_security.h"
#include "store/settings_store.h"
#include "support/process.h"
#include "support/smtp_server.h"
#include "support/tls_certs.h"
#include "text/ansi.h"
#include "text/textutil.h"

inline void PrintTo(const QString& s, std::ostream* os) {
  *os << s.toStdString();
}

namespace pelorix::gui {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Runs the event loop until `done` holds (or a generous limit passes).

class LetterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(Home() / "tmp" / "deleted");
    store = TSettingsStore::Open(Home());
    ASSERT_TRUE(store);
    row.Items[mcSender] = "李四 <lisi@example.cn>";
    row.Items[mcSubject] = "季度/报告: 第3季";
    row.Items[mcPriority] = "4";
    row.Items[mcRecipients] = "me@example.cn";
    row.Items[mcSenderRoute] = "北京";
    row.Items[mcDate] = "2026-12-08 10:00";
    row.Items[mcOrganization] = "某公司";
    row.Items[mcMessageKey] = "<k.1@example.cn>";
    const fs::path tmp = Home() / "tmp";
    const std::string k = CleanFileName(row.Items[mcMessageKey]);
    test::WriteFile((tmp / k).string(), ToAnsi("<html><p>您好<br>第二行</html>\r\n"));
    test::WriteFile((tmp / (k + ".msg")).string(), ToAnsi("Subject: 季度报告\r\n"));
  }
  void TearDown() override {
    delete owner;  // closes the letter window with it
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  fs::path Home() const { return fs::path(temp.Path()); }
  QWidget* Window() const {
    return owner->findChild<QWidget*>(QStringLiteral("TfrmMailprop"), Qt::FindDirectChildrenOnly);
  }
  template <typename T>
  T* Find(const char* name) const {
    T* w = Window()->findChild<T*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QString Text(const char* memo) const { return Find<QPlainTextEdit>(memo)->toPlainText(); }
  void SetSmtp(const std::string& server, int port, const std::string& password) {
    TSettingsKey key;
    ASSERT_TRUE(OpenSettingsKey(*store, "Smtp", true, key));
    WriteNumberValue(key, "authType", 1);
    WriteTextValue(key, "SmtpServer", server);
    WriteTextValue(key, "smtpPort", std::to_string(port));
    WriteTextValue(key, "account", "alice");
    WriteTextValue(key, "password", password);
    WriteTextValue(key, "MyEmail", "alice@example.cn");
  }
  bool SendFinished() const {
    return Find<QPushButton>("btnSmtp")->isEnabled() &&
           Find<QLabel>("StaticText1")->text() == QStringLiteral("断开服务器!");
  }

  test::TTempFolder temp{"pelorix-letter"};
  std::unique_ptr<TSettingsStore> store;
  testing::TScriptedDialogs dialogs;
  QWidget* owner = new QWidget;
  TMailRow row;
};

TEST_F(LetterWindowTest, FillsPagesRefillsTheSameWindowAndFreesItOnClose) {
  ShowLetterWindow(owner, Home(), *store, row);
  QWidget* window = Window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->isModal());
  EXPECT_EQ(Find<QLabel>("lbFrom")->text(), QStringLiteral("发件人：李四 <lisi@example.cn>"));
  EXPECT_EQ(Find<QLabel>("lbPriority")->text(), QStringLiteral("优先级：较高"));
  EXPECT_EQ(Find<QLabel>("lbrealAddr")->accessibleName(), QStringLiteral("地址：北京"));
  EXPECT_EQ(Text("memText"), QStringLiteral("\n您好\n第二行"));
  EXPECT_EQ(Text("memoHTML"), QStringLiteral("<html><p>您好<br>第二行</html>"));
  EXPECT_EQ(Text("memProp"), QStringLiteral("Subject: 季度报告"));
  EXPECT_EQ(Find<QLineEdit>("edtCC")->accessibleName(), QStringLiteral("抄送："));
  EXPECT_EQ(Find<QPlainTextEdit>("memWrite")->accessibleName(), QStringLiteral("回信内容"));

  auto* tabs = Find<QTabBar>("flatControl1");
  tabs->setCurrentIndex(2);
  EXPECT_EQ(Find<QStackedWidget>("Notebook1")->currentWidget(), Find<QWidget>("memProp"));

  // A row whose files are gone: captions change, the pages stay.
  TMailRow other = row;
  other.Items[mcSubject] = "另一封";
  other.Items[mcMessageKey] = "<gone@x>";
  ShowLetterWindow(owner, Home(), *store, other);
  EXPECT_EQ(Window(), window);
  EXPECT_EQ(Find<QLabel>("lbSubject")->text(), QStringLiteral("标题：另一封"));
  EXPECT_EQ(Text("memProp"), QStringLiteral("Subject: 季度报告"));

  window->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(Window(), nullptr);
}

TEST_F(LetterWindowTest, SavesAsTextWithTxtAppended) {
  ShowLetterWindow(owner, Home(), *store, row);
  const fs::path chosen = Home() / "letter.txt";
  dialogs.FileNames.push_back(QString::fromStdString(chosen.string()));
  Find<QPushButton>("FlatSpeedButton1")->click();
  ASSERT_EQ(dialogs.FileDialogFolders.size(), 1u);
  EXPECT_TRUE(dialogs.FileDialogFolders[0].endsWith(QStringLiteral("季度报告 第3季")))
      << dialogs.FileDialogFolders[0].toStdString();
  EXPECT_FALSE(fs::exists(chosen));
  const std::string saved = FromAnsi(test::ReadFile(chosen.string() + ".txt"));
  EXPECT_EQ(saved,
            "标题：季度/报告: 第3季\r\n发件人：李四 <lisi@example.cn>\r\n组织：某公司\r\n"
            "收件人：me@example.cn\r\n地址：北京\r\n优先级：较高\r\n时间：2026-12-08 10:00\r\n"
            "\r\n\r\n" +
                std::string(48, '-') + "\r\n\r\n您好\r\n第二行\r\n\r\n");

  Find<QPushButton>("FlatSpeedButton1")->click();  // cancelled: nothing more
  EXPECT_THAT(dialogs.Shown, IsEmpty());
}

TEST_F(LetterWindowTest, ReplySentThroughTheServerReturnsToTheLetter) {
  if (const auto why = test::TAioSmtpServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TAioSmtpServer server("alice", "secret");
  server.Start();
  SetSmtp("127.0.0.1", server.Port(), "secret");
  ShowLetterWindow(owner, Home(), *store, row);
  Find<QPushButton>("FlatSpeedButton2")->click();
  EXPECT_EQ(Find<QStackedWidget>("Notebook2")->currentWidget()->objectName(),
            QStringLiteral("writeletter"));
  EXPECT_EQ(Find<QLineEdit>("edtSendto")->text(), QStringLiteral("lisi@example.cn"));
  EXPECT_EQ(Find<QLineEdit>("edtSubject")->text(), QStringLiteral("Re: 季度/报告: 第3季"));
  EXPECT_TRUE(Text("memWrite").startsWith(QStringLiteral("李四, 您好！\n")));
  EXPECT_THAT(Text("memWrite").toStdString(), HasSubstr("\n| 您好\n| 第二行\n"));
  Find<QLineEdit>("edtCC")->setText(QStringLiteral("carl@example.cn"));

  Find<QPushButton>("btnSmtp")->click();
  EXPECT_FALSE(Find<QPushButton>("btnSmtp")->isEnabled());
  EXPECT_FALSE(Find<QPlainTextEdit>("memWrite")->isEnabled());
  ASSERT_TRUE(WaitUntil([&] { return SendFinished(); }));
  EXPECT_EQ(Find<QStackedWidget>("Notebook2")->currentWidget()->objectName(),
            QStringLiteral("default"));
  // The window's own texts and the client's events, in order.
  std::vector<std::string> log;
  for (const QString& line : Find<QLabel>("StaticText1")->toolTip().split(QLatin1Char('\n')))
    log.push_back(line.toStdString());
  EXPECT_THAT(log, ElementsAre("正在连接服务器!", "Connecting to 127.0.0.1.", "Connected.",
                               "连接成功!", "正在发送!", "Encoding text", "发送完毕器!",
                               "Disconnecting.", "Disconnected.", "断开服务器!"));

  std::vector<test::TAioSmtpServer::TReceived> received;
  ASSERT_TRUE(WaitUntil([&] { return !(received = server.Received()).empty(); }));
  EXPECT_EQ(received[0].Login, "alice");
  EXPECT_EQ(received[0].MailFrom, "alice@example.cn");
  EXPECT_THAT(received[0].RcptTos, ElementsAre("lisi@example.cn", "carl@example.cn"));
  EXPECT_THAT(received[0].Content, HasSubstr("\r\n\r\n李四, 您好！\r\n"));
}

TEST_F(LetterWindowTest, ReplyGoesOverStartTlsAndToAPinnedServerOnly) {
  if (const auto why = test::TAioSmtpServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TTestCertificates certs;
  certs.TrustCa();
  ShowLetterWindow(owner, Home(), *store, row);
  auto* status = Find<QLabel>("StaticText1");
  {
    test::TAioSmtpServer server("alice", "secret");
    server.EnableTls(certs.Good().Cert, certs.Good().Key, false);  // AUTH only after STARTTLS
    server.Start();
    SetSmtp("127.0.0.1", server.Port(), "secret");
    ASSERT_TRUE(WriteSmtpSecurity(*store, "starttls"));
    Find<QPushButton>("FlatSpeedButton2")->click();
    Find<QPushButton>("btnSmtp")->click();
    ASSERT_TRUE(WaitUntil([&] { return SendFinished(); }));
    EXPECT_THAT(status->toolTip().toStdString(), HasSubstr("发送完毕器!"));
    std::vector<test::TAioSmtpServer::TReceived> received;
    ASSERT_TRUE(WaitUntil([&] { return !(received = server.Received()).empty(); }));
    EXPECT_EQ(received[0].Login, "alice");
  }

  // SSL/TLS to a self-signed certificate: refused, then sent once pinned.
  test::TAioSmtpServer server("alice", "secret");
  server.EnableTls(certs.SelfSigned().Cert, certs.SelfSigned().Key, true);
  server.Start();
  SetSmtp("127.0.0.1", server.Port(), "secret");
  ASSERT_TRUE(WriteSmtpSecurity(*store, "tls"));
  Find<QPushButton>("FlatSpeedButton2")->click();
  Find<QPushButton>("btnSmtp")->click();
  ASSERT_TRUE(WaitUntil([&] { return SendFinished(); }));
  EXPECT_THAT(status->toolTip().toStdString(), HasSubstr("发送失败！"));
  EXPECT_TRUE(status->accessibleDescription().startsWith(QStringLiteral("证书验证失败: ")))
      << status->accessibleDescription().toStdString();
  EXPECT_THAT(server.Received(), IsEmpty());

  ASSERT_TRUE(WriteTrustedCert(*store, server.HostPort(),
                               test::TTestCertificates::Fingerprint(certs.SelfSigned().Cert)));
  Find<QPushButton>("btnSmtp")->click();
  ASSERT_TRUE(WaitUntil([&] { return SendFinished(); }));
  EXPECT_THAT(status->toolTip().toStdString(), HasSubstr("发送完毕器!"));
  ASSERT_TRUE(WaitUntil([&] { return server.Received().size() == 1; }));
}

TEST_F(LetterWindowTest, FailedSendKeepsTheReplyAndClosingDuringASendIsSafe) {
  if (const auto why = test::TAioSmtpServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  ShowLetterWindow(owner, Home(), *store, row);
  Find<QPushButton>("FlatSpeedButton2")->click();
  auto* status = Find<QLabel>("StaticText1");

  // Unusable settings: said in the status line, nothing disabled.
  SetSmtp("127.0.0.1", 0, "x");
  Find<QPushButton>("btnSmtp")->click();
  EXPECT_THAT(status->text().toStdString(), HasSubstr("端口"));
  EXPECT_TRUE(Find<QPushButton>("btnSmtp")->isEnabled());

  test::TAioSmtpServer server("alice", "secret");
  server.Start();
  SetSmtp("127.0.0.1", server.Port(), "wrong");
  Find<QPlainTextEdit>("memWrite")->setPlainText(QStringLiteral("我的回信"));
  Find<QPushButton>("btnSmtp")->click();
  ASSERT_TRUE(WaitUntil([&] { return SendFinished(); }));
  EXPECT_EQ(Find<QStackedWidget>("Notebook2")->currentWidget()->objectName(),
            QStringLiteral("writeletter"));
  EXPECT_EQ(Text("memWrite"), QStringLiteral("我的回信"));
  // The reason follows the status texts; the line itself ends as it should.
  const QStringList log = status->toolTip().split(QLatin1Char('\n'));
  ASSERT_GE(log.size(), 3);
  EXPECT_EQ(log[log.size() - 3], QStringLiteral("发送失败！"));
  EXPECT_EQ(log[log.size() - 2], QStringLiteral("断开服务器!"));
  EXPECT_TRUE(log.back().startsWith(QStringLiteral("535 ")));
  EXPECT_FALSE(log.contains(QStringLiteral("发送完毕器!")));
  EXPECT_EQ(status->accessibleDescription(), log.back());

  // Closed while sending: the window goes, the send ends on its own.
  SetSmtp("127.0.0.1", server.Port(), "secret");
  Find<QPushButton>("btnSmtp")->click();
  Window()->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(Window(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return server.Received().size() == 1; }));
  EXPECT_TRUE(WaitUntil([] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return qApp->findChildren<QThread*>().isEmpty();  // the send ended and freed itself
  }));
}

}  // namespace
}  // namespace pelorix::gui
