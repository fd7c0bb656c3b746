#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "../store/temp_folder.h"
#include "app/commands.h"
#include "store/accounts.h"
#include "store/ip_table.h"
#include "store/settings_store.h"
#include "support/scoped_env.h"

namespace pelorix {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

struct Outcome {
  int status;
  std::string out, err;
};

struct CliStore : ::testing::Test {
  TempFolder home;

  Outcome Call(std::vector<std::string> args, const std::filesystem::path& where = {}) {
    args.insert(args.begin(), {"--home", (where.empty() ? home.path() : where).string()});
    std::ostringstream out, err;
    int status = RunCommandLine(args, out, err);
    return {status, out.str(), err.str()};
  }
  // A failure says so in exactly one line.
  void ExpectFailure(const Outcome& r, int status) {
    EXPECT_EQ(r.status, status);
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  }
};

TEST_F(CliStore, AccountsAddListReplaceRemove) {
  EXPECT_EQ(Call({"account", "add", "--server", "pop.z.com", "--user", "bob", "--password", "pw",
                  "--note", "工作"})
                .status,
            0);
  EXPECT_EQ(Call({"account", "add", "--server=pop.a.com", "--user=ann", "--password=x"}).status, 0);
  EXPECT_EQ(Call({"account", "list"}).out, "pop.a.com\tann\t\npop.z.com\tbob\t工作\n");

  // Same server and user: replaced, not doubled.
  EXPECT_EQ(Call({"account", "add", "--server", "pop.z.com", "--user", "bob", "--password", "new",
                  "--note", "home"})
                .status,
            0);
  EXPECT_EQ(Call({"account", "list"}).out, "pop.a.com\tann\t\npop.z.com\tbob\thome\n");

  ExpectFailure(Call({"account", "add", "--server", "pop.z.com", "--user", "bob"}), 2);
  ExpectFailure(Call({"account", "add", "--server", "p[1]", "--user", "c", "--password", "x"}), 1);
  ExpectFailure(Call({"account", "add", "--server", "p", "--user", "c", "--password", "あ"}), 1);
  ExpectFailure(Call({"account", "remove", "--server", "pop.q.com", "--user", "bob"}), 1);
  ExpectFailure(Call({"account", "frobnicate"}), 2);
  ExpectFailure(Call({"account"}), 2);

  EXPECT_EQ(Call({"account", "remove", "--server", "pop.a.com", "--user", "ann"}).status, 0);
  EXPECT_EQ(Call({"account", "list"}).out, "pop.z.com\tbob\thome\n");
  auto store = TSettingsStore::Open(home.path());
  auto accounts = LoadAccounts(*store);
  ASSERT_EQ(accounts.size(), 1u);
  EXPECT_EQ(accounts[0].Password, "new");
}

TEST_F(CliStore, ThunderbirdImportReplacesAndKeepsPasswords) {
  TempFolder profile;
  WriteBytes(profile.path() / "prefs.js",
             "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
             "user_pref(\"mail.server.server1.hostname\", \"pop.example.com\");\n"
             "user_pref(\"mail.server.server1.userName\", \"bob\");\n"
             "user_pref(\"mail.server.server1.name\", \"Bob at work\");\n"
             "user_pref(\"mail.server.server2.type\", \"pop3\");\n"
             "user_pref(\"mail.server.server2.hostname\", \"pop.bad.com\");\n"
             "user_pref(\"mail.server.server2.userName\", \"a{b\");\n");
  ASSERT_EQ(Call({"account", "add", "--server", "pop.example.com", "--user", "bob", "--password",
                  "secret"})
                .status,
            0);
  Outcome r = Call({"account", "import-thunderbird", profile.path().string()});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("a{b"), std::string::npos);  // refused, said so
  r = Call({"account", "import-thunderbird", profile.path().string()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Call({"account", "list"}).out, "pop.example.com\tbob\tBob at work\n");
  auto store = TSettingsStore::Open(home.path());
  EXPECT_EQ(LoadAccounts(*store).at(0).Password, "secret");

  TempFolder empty;
  ExpectFailure(Call({"account", "import-thunderbird", empty.path().string()}), 1);

  // Without a folder, the profiles below ~/.thunderbird are read.
  TempFolder userHome;
  std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", userHome.path().c_str(), 1);
  ExpectFailure(Call({"account", "import-thunderbird"}), 1);
  WriteBytes(userHome.path() / ".thunderbird" / "x1.default" / "prefs.js",
             "user_pref(\"mail.server.server7.type\", \"pop3\");\n"
             "user_pref(\"mail.server.server7.hostname\", \"pop.home.com\");\n"
             "user_pref(\"mail.server.server7.userName\", \"me\");\n");
  r = Call({"account", "import-thunderbird"});
  ::setenv("HOME", savedHome.c_str(), 1);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "pop.home.com\tme\t\n");
  EXPECT_EQ(Call({"account", "list"}).out,
            "pop.example.com\tbob\tBob at work\npop.home.com\tme\t\n");
}

TEST_F(CliStore, FilterListsChangeThroughTheWindowsRules) {
  EXPECT_EQ(Call({"filter", "add", "subject", " Buy now ", "BUY NOW", "垃圾"}).status, 0);
  EXPECT_EQ(Call({"filter", "add", "length", ">=2048", "==10", ">=2048"}).status, 0);
  EXPECT_EQ(Call({"filter", "list", "subject"}).out, "Buy now\n垃圾\n");
  EXPECT_EQ(Call({"filter", "list", "LENGTH"}).out, "==10\n>=2048\n");

  // A bad entry changes nothing at all.
  ExpectFailure(Call({"filter", "add", "length", "<=5", "2048"}), 1);
  ExpectFailure(Call({"filter", "add", "length", ">=5k"}), 1);
  ExpectFailure(Call({"filter", "remove", "subject", "buy now", "missing"}), 1);
  ExpectFailure(Call({"filter", "add", "subject", std::string(256, 'x')}), 1);
  ExpectFailure(Call({"filter", "list", "colour"}), 1);
  ExpectFailure(Call({"filter", "add", "subject"}), 2);
  EXPECT_EQ(Call({"filter", "list", "length"}).out, "==10\n>=2048\n");
  EXPECT_EQ(Call({"filter", "list", "subject"}).out, "Buy now\n垃圾\n");

  EXPECT_EQ(Call({"filter", "remove", "subject", "BUY NOW"}).status, 0);
  EXPECT_EQ(Call({"filter", "list", "subject"}).out, "垃圾\n");
}

TEST_F(CliStore, FilterFilesExportAndImport) {
  ASSERT_EQ(Call({"filter", "add", "content", "<font color=red>"}).status, 0);
  ASSERT_EQ(Call({"filter", "add", "length", "<=100"}).status, 0);
  ASSERT_EQ(Call({"filter", "add", "recipient", "list@example.com"}).status, 0);
  TempFolder dir;
  const auto file = dir.path() / "mine.rub";
  WriteBytes(file, "[Extra]\r\nkeep=\r\n");
  ASSERT_EQ(Call({"filter", "export", file.string()}).status, 0);
  EXPECT_EQ(ReadBytes(file).rfind("[Extra]\r\nkeep=\r\n", 0), 0u);

  TempFolder other;
  ASSERT_EQ(Call({"filter", "add", "content", "kept"}, other.path()).status, 0);
  ASSERT_EQ(Call({"filter", "import", file.string()}, other.path()).status, 0);
  ASSERT_EQ(Call({"filter", "import", file.string()}, other.path()).status, 0);
  EXPECT_EQ(Call({"filter", "list", "content"}, other.path()).out, "kept\n<font color=red>\n");
  EXPECT_EQ(Call({"filter", "list", "length"}, other.path()).out, "<=100\n");
  EXPECT_EQ(Call({"filter", "list", "recipient"}, other.path()).out, "list@example.com\n");

  ExpectFailure(Call({"filter", "import", (dir.path() / "none.rub").string()}), 1);
  ExpectFailure(Call({"filter", "export", (dir.path() / "no" / "dir.rub").string()}), 1);
}

TEST_F(CliStore, SetAndGetSettings) {
  EXPECT_EQ(Call({"get", "MailCheck", "ClearMoreRubNum"}).out, "10000\n");
  EXPECT_EQ(Call({"get", "Smtp", "smtpPort"}).out, "25\n");
  EXPECT_EQ(Call({"get", "smtp", "MyEmail"}).out, "在这里填写您的Email地址\n");
  EXPECT_EQ(Call({"get", "MailCheck", "DeleteRubbish"}).out, "off\n");

  EXPECT_EQ(Call({"set", "mailcheck", "deleterubbish", "on"}).status, 0);
  EXPECT_EQ(Call({"get", "MailCheck", "DeleteRubbish"}).out, "on\n");
  EXPECT_EQ(Call({"set", "MailCheck", "SkipBytes", "250"}).status, 0);
  EXPECT_EQ(Call({"get", "MailCheck", "skipbytes"}).out, "250\n");
  EXPECT_EQ(Call({"set", "Smtp", "authType", "1"}).status, 0);
  EXPECT_EQ(Call({"get", "Smtp", "authType"}).out, "1\n");
  EXPECT_EQ(Call({"set", "Smtp", "MyEmail", " 我@example.com "}).status, 0);
  EXPECT_EQ(Call({"get", "Smtp", "MyEmail"}).out, "我@example.com\n");

  ExpectFailure(Call({"set", "MailCheck", "DeleteRubbish", "yes"}), 1);
  ExpectFailure(Call({"set", "MailCheck", "checkTime", "1000"}), 1);
  ExpectFailure(Call({"set", "MailCheck", "checkTime", "5m"}), 1);
  ExpectFailure(Call({"set", "Smtp", "smtpPort", "70000"}), 1);
  ExpectFailure(Call({"set", "Smtp", "authType", "2"}), 1);
  ExpectFailure(Call({"set", "Smtp", "SmtpServer", std::string(256, 'h')}), 1);
  ExpectFailure(Call({"set", "Colours", "x", "1"}), 1);
  ExpectFailure(Call({"get", "MailCheck", "nothing"}), 1);
  ExpectFailure(Call({"set", "MailCheck", "autocheck"}), 2);
  ExpectFailure(Call({"get", "MailCheck"}), 2);
  EXPECT_EQ(Call({"get", "MailCheck", "DeleteRubbish"}).out, "on\n");
}

TEST_F(CliStore, AutostartSettingWritesTheLogOnEntry) {
  TempFolder config;
  ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  const auto entry = config.path() / "autostart" / "pelorix.desktop";
  ASSERT_EQ(Call({"set", "MailCheck", "autostart", "on"}).status, 0);
  ASSERT_TRUE(std::filesystem::exists(entry));
  EXPECT_NE(ReadBytes(entry).find(" -auto\n"), std::string::npos);
  EXPECT_EQ(Call({"get", "MailCheck", "autostart"}).out, "on\n");
  ASSERT_EQ(Call({"set", "MailCheck", "autostart", "off"}).status, 0);
  EXPECT_FALSE(std::filesystem::exists(entry));
  ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(CliStore, IpTableCommands) {
  EXPECT_EQ(Call({"iptable", "list"}).out, "");
  EXPECT_EQ(Call({"iptable", "add", "202.96.1.7", "202.96.1.9", "上海", "电信"}).status, 0);
  EXPECT_EQ(Call({"iptable", "add", "1.2.3.0", "1.2.3.255", "a", " b "}).status, 0);
  EXPECT_EQ(Call({"iptable", "list"}).out,
            "001.002.003.000\t001.002.003.255\ta\tb\n"
            "202.096.001.007\t202.096.001.009\t上海\t电信\n");
  EXPECT_EQ(std::filesystem::file_size(home.path() / "modal" / "IPuser.dat"), 248u);

  ExpectFailure(Call({"iptable", "add", "300.1.1.1", "1.1.1.1", "a", "b"}), 1);
  ExpectFailure(Call({"iptable", "add", "1.1.1.1", "1.1.1.1", "a"}), 2);
  ExpectFailure(Call({"iptable", "sort"}), 2);

  TempFolder dir;
  const auto file = dir.path() / "IpSeek.dat";
  ASSERT_EQ(Call({"iptable", "export", file.string()}).status, 0);
  TempFolder other;
  ASSERT_EQ(Call({"iptable", "import", file.string()}, other.path()).status, 0);
  ASSERT_EQ(Call({"iptable", "import", file.string()}, other.path()).status, 0);
  EXPECT_EQ(Call({"iptable", "list"}, other.path()).out, Call({"iptable", "list"}).out);
  ExpectFailure(Call({"iptable", "import", (dir.path() / "none.dat").string()}), 1);

  // A table in force that cannot be read is not replaced by a new one.
  TempFolder broken;
  std::filesystem::create_directories(broken.path() / "modal" / "ipuser.dat");
  ExpectFailure(Call({"iptable", "add", "1.1.1.1", "1.1.1.2", "a", "b"}, broken.path()), 1);
  EXPECT_TRUE(std::filesystem::is_directory(broken.path() / "modal" / "ipuser.dat"));
}

TEST_F(CliStore, IpTableKeepsTheUsersRowsApartFromTheDeliveredTable) {
  TempFolder install;
  const auto delivered = install.path() / "ip.dat";
  std::vector<TIpRecord> table;
  for (int i = 0; i < 1200; ++i) {
    char start[16], end[16];
    std::snprintf(start, sizeof start, "%03d.%03d.000.000", 1 + i / 200, i % 200);
    std::snprintf(end, sizeof end, "%03d.%03d.000.255", 1 + i / 200, i % 200);
    table.push_back({start, end, "delivered", "d"});
  }
  ASSERT_TRUE(ExportIpTable(delivered, table));
  test::TScopedEnv env("PELORIX_IP_TABLE", delivered.string());
  const auto user = home.path() / "modal" / "IPuser.dat";

  ASSERT_EQ(Call({"iptable", "add", "202.96.1.7", "202.96.1.9", "上海", "电信"}).status, 0);
  EXPECT_EQ(std::filesystem::file_size(user), 124u);
  EXPECT_EQ(Call({"iptable", "list"}).out, "202.096.001.007\t202.096.001.009\t上海\t电信\n");
  const std::string all = Call({"iptable", "list", "--all"}).out;
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1201);
  TempFolder dir;
  ASSERT_EQ(Call({"iptable", "export", (dir.path() / "mine.dat").string()}).status, 0);
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "mine.dat"), 124u);
  ASSERT_EQ(Call({"iptable", "export", "--all", (dir.path() / "all.dat").string()}).status, 0);
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "all.dat"), 1201 * 124u);

  // A whole copy saved by an older version: listed with a hint, then slimmed.
  table.push_back({"202.096.001.007", "202.096.001.009", "上海", "电信"});
  ASSERT_TRUE(ExportIpTable(user, table));
  const Outcome listed = Call({"iptable", "list"});
  EXPECT_NE(listed.err.find("1200"), std::string::npos);
  EXPECT_EQ(Call({"iptable", "slim"}).out, "dropped 1200 rows equal to the delivered table's\n");
  EXPECT_EQ(std::filesystem::file_size(user), 124u);
  EXPECT_EQ(Call({"iptable", "list", "--all"}).out, all);
}

}  // namespace
}  // namespace pelorix
