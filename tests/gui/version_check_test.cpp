// The version check against a loopback HTTP server started by the test.

#include "gui/version_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <functional>

#include "gui/scripted_dialogs.h"
#include "gui/wait_until.h"
#include "support/fake_server.h"
#include "support/process.h"
#include "text/textutil.h"

// Readable failure output.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << s.toStdString();
}

namespace pelorix::gui {
namespace {

using ::testing::Contains;

constexpr char kHome[] = "https://home.example/";

// One HTTP answer with `body` to one GET.
void ServeOnce(test::TScriptServer& server, const std::string& body) {
  server.ReadUntil("")
      .SendRaw("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body)
      .CloseConnection();
  server.Start();
}

class VersionCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A proxy from the environment must not take loopback requests.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    options.HomePage = kHome;
    options.ConnectTimeoutMs = 5000;
    options.TotalTimeoutMs = 15000;
  }
  // Starts one check and returns the box it shows.
  testing::TShownBox Check() {
    StartVersionCheck(nullptr, options);
    EXPECT_TRUE(WaitUntil([&] { return !dialogs.Shown.empty(); }));
    EXPECT_TRUE(WaitUntil([] {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      return qApp->findChildren<QThread*>().isEmpty();
    }));
    return dialogs.Shown.empty() ? testing::TShownBox{} : dialogs.Shown.back();
  }
  testing::TScriptedDialogs dialogs;
  TVersionCheckOptions options;
};

TEST_F(VersionCheckTest, NewerVersionThroughTheBuildsAddressOverriddenByTheEnvironment) {
  test::TScriptServer server;
  ServeOnce(server, "  9.99   |Pelorix 9.99 发布\r\n");
  const std::string url = "127.0.0.1:" + std::to_string(server.Port()) + "/vermail.txt";
  setenv("PELORIX_VERSION_URL", url.c_str(), 1);
  const auto defaults = DefaultVersionCheckOptions();
  unsetenv("PELORIX_VERSION_URL");
  EXPECT_EQ(defaults.Url, url);

  options.Url = defaults.Url;
  const auto box = Check();
  EXPECT_EQ(box.Caption, QStringLiteral("最新通告!"));
  EXPECT_EQ(box.Text, QStringLiteral("The new version is Pelorix 9.99 发布\n下载地址: ") +
                          QLatin1String(kHome));
  EXPECT_FALSE(box.Modal);
  server.Wait();
  EXPECT_THAT(server.Received(), Contains("GET /vermail.txt HTTP/1.1"));
  EXPECT_THAT(server.Received(), Contains("User-Agent: obrinel"));
  EXPECT_THAT(server.Received(), Contains("Cache-Control: no-cache"));
}

TEST_F(VersionCheckTest, EachReplyGetsItsBox) {
  // The running version as the file would name it: first "." kept.
  std::string mine = FileVersionText();
  for (auto dot = mine.find('.', mine.find('.') + 1); dot != std::string::npos;
       dot = mine.find('.', dot))
    mine.erase(dot, 1);
  const struct {
    std::string Body;
    const char* Caption;
    QString Text;
  } cases[] = {
      {(mine + "       ").substr(0, 7) + "|same", "没有新版本!",
       QStringLiteral("Pelorix暂时没有新版本!")},
      {"Version 2 is out", "No new version!", QStringLiteral("No any new version can be found!")},
      // An empty file reads as 1.00, newer than this build's 0.x.
      {"", "最新通告!", QStringLiteral("The new version is \n下载地址: ") + QLatin1String(kHome)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Body);
    dialogs.Shown.clear();
    test::TScriptServer server;
    ServeOnce(server, c.Body);
    options.Url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/vermail.txt";
    const auto box = Check();
    EXPECT_EQ(box.Caption, QString::fromUtf8(c.Caption));
    EXPECT_EQ(box.Text, c.Text);
  }
}

TEST_F(VersionCheckTest, UnreachableOrSlowServerEndsWithoutANewVersion) {
  options.Url = "http://127.0.0.1:" + std::to_string(test::FreeLoopbackPort()) + "/vermail.txt";
  EXPECT_EQ(Check().Text, QStringLiteral("No any new version can be found!"));

  dialogs.Shown.clear();
  test::TScriptServer slow;
  slow.ReadUntil("").Stall(std::chrono::seconds(20));
  slow.Start();
  options.Url = "127.0.0.1:" + std::to_string(slow.Port()) + "/vermail.txt";
  options.TotalTimeoutMs = 300;
  EXPECT_EQ(Check().Text, QStringLiteral("No any new version can be found!"));
}

}  // namespace
}  // namespace pelorix::gui
