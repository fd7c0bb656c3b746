#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>

#include "engine/check_run.h"
#include "engine/old_files.h"
#include "engine/record_files.h"
#include "recording_sink.h"
#include "store/accounts.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"
#include "support/fake_server.h"
#include "test_home.h"

namespace pelorix {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

void Put(const std::filesystem::path& file, const std::string& bytes) {
  std::filesystem::create_directories(file.parent_path());
  test::WriteAll(file, bytes);
}

// Entries of the home folder.
std::vector<std::string> HomeEntries(const std::filesystem::path& home) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(home))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PrepareTmpFolder, RemovesFilesKeepsFoldersAndDeletedMail) {
  namespace fs = std::filesystem;
  test::TTempHome home;
  Put(home.Tmp() / "bob2h.new", "x");
  Put(home.Tmp() / "all.rec", "x");
  Put(home.Tmp() / "deleted" / "bob2h.del", "kept");
  Put(home.Tmp() / "other" / "inner", "kept too");
  {
    TTmpSweep sweep = PrepareTmpFolder(home.Path());
    EXPECT_FALSE(fs::exists(home.Tmp() / "bob2h.new"));
    EXPECT_FALSE(fs::exists(home.Tmp() / "all.rec"));
    EXPECT_EQ(test::ReadAll(home.Tmp() / "deleted" / "bob2h.del"), "kept");
    EXPECT_EQ(test::ReadAll(home.Tmp() / "other" / "inner"), "kept too");
  }
  std::vector<std::string> names = HomeEntries(home.Path());
  EXPECT_EQ(std::count_if(names.begin(), names.end(),
                          [](const std::string& n) { return n.starts_with(".tmp"); }),
            0);  // nothing set aside is left once the sweep is done

  fs::remove_all(home.Tmp());
  PrepareTmpFolder(home.Path()).Wait();
  EXPECT_TRUE(fs::is_directory(home.Tmp() / "deleted"));
}

TEST(PrepareTmpFolder, AStartAfterACrashHalfWayLosesNoDeletedMail) {
  namespace fs = std::filesystem;
  test::TTempHome home;
  // A former start set tmp/ aside and died before moving its folders back,
  // another one before its sweep ended; tmp/ of the last run is there too.
  const fs::path early = home.Path() / ".tmp-former-1000-1";
  const fs::path late = home.Path() / ".tmp-former-2000-1";
  Put(early / "deleted" / "old.del", "early");
  Put(early / "deleted" / "both.del", "early copy");
  Put(early / "stale.msg", "x");
  Put(late / "deleted" / "both.del", "late copy");
  Put(late / "stale2.msg", "x");
  Put(home.Tmp() / "deleted" / "new.del", "new");
  Put(home.Tmp() / "last.msg", "x");

  PrepareTmpFolder(home.Path()).Wait();
  EXPECT_EQ(test::ReadAll(home.Tmp() / "deleted" / "old.del"), "early");
  EXPECT_EQ(test::ReadAll(home.Tmp() / "deleted" / "both.del"), "late copy");
  EXPECT_EQ(test::ReadAll(home.Tmp() / "deleted" / "new.del"), "new");
  EXPECT_FALSE(fs::exists(home.Tmp() / "last.msg"));
  EXPECT_FALSE(fs::exists(early));
  EXPECT_FALSE(fs::exists(late));
}

TEST(PrepareTmpFolder, TheFormerRunsFilesComeBackWithTheNewContentOnly) {
  namespace fs = std::filesystem;
  test::TTempHome home;
  Put(home.Tmp() / "old1.msg", "old header, longer than the new one");
  Put(home.Tmp() / "old2.msg", "old");
  const auto inode = [](const fs::path& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
  };
  const std::set<ino_t> before = {inode(home.Tmp() / "old1.msg"), inode(home.Tmp() / "old2.msg")};
  fs::create_symlink(home.Path() / "registry.db", home.Tmp() / "link");
  TTmpSweep sweep = PrepareTmpFolder(home.Path());
  TOldFilePool pool;
  // Shorter and longer than a block and than either old file.
  const std::string shortText = "new\r\n";
  const std::string longText(9000, 'n');
  const fs::path fresh = home.Tmp() / "new.msg";
  ASSERT_TRUE(pool.Reuse(home.Path(), fresh, shortText));
  EXPECT_EQ(test::ReadAll(fresh), shortText);
  EXPECT_EQ(before.count(inode(fresh)), 1u);
  ASSERT_TRUE(pool.Write(home.Path(), home.Tmp() / "second.msg", longText));
  EXPECT_EQ(test::ReadAll(home.Tmp() / "second.msg"), longText);
  EXPECT_EQ(before.count(inode(home.Tmp() / "second.msg")), 1u);
  // Links are not reused: the third file is a new one.
  EXPECT_FALSE(pool.Reuse(home.Path(), home.Tmp() / "third.msg", shortText));
  EXPECT_FALSE(fs::exists(home.Tmp() / "third.msg"));
  ASSERT_TRUE(pool.Write(home.Path(), home.Tmp() / "third.msg", shortText));
  EXPECT_EQ(test::ReadAll(home.Tmp() / "third.msg"), shortText);
  EXPECT_EQ(before.count(inode(home.Tmp() / "third.msg")), 0u);
  // A file already there is rewritten in place, growing or shrinking.
  const ino_t third = inode(home.Tmp() / "third.msg");
  for (const std::string& text : {longText, shortText}) {
    ASSERT_TRUE(pool.Write(home.Path(), home.Tmp() / "third.msg", text));
    EXPECT_EQ(test::ReadAll(home.Tmp() / "third.msg"), text);
  }
  EXPECT_EQ(inode(home.Tmp() / "third.msg"), third);
  sweep.Wait();
  EXPECT_EQ(test::ReadAll(fresh), shortText);
}

struct TRunFixture : ::testing::Test {
  test::TTempHome home;
  std::unique_ptr<TSettingsStore> store = TSettingsStore::Open(home.Path());
  test::TRecordingSink sink;
  TMailPlan plan;

  TRunFixture() {
    plan.CheckSummary = true;
    plan.ClearMoreRub = true;
    plan.ClearMoreRubNum = 10000;
    plan.SkipBytes = 100;
    plan.Save(*store);
  }
  void Accounts(std::vector<TAccount> accounts) { ASSERT_TRUE(SaveAccounts(*store, accounts)); }
};

TEST_F(TRunFixture, NoMatchingAccountIsRefusedAndLeavesTheEngineIdle) {
  TCheckEngine engine(home.Path(), *store, sink);
  engine.LoadPlan();
  EXPECT_EQ(engine.StartHeaderCheck(), TStartResult::NoAccount);
  EXPECT_FALSE(engine.State().Busy);
  Accounts({{"pop.example.org", "bob", "pw", ""}});
  EXPECT_EQ(engine.StartHeaderCheck("carol[pop.example.org]"), TStartResult::NoAccount);
  engine.State().Busy = true;
  EXPECT_EQ(engine.StartHeaderCheck(), TStartResult::Busy);
}

TEST_F(TRunFixture, AHostileServerCostsOnlyItsOwnAccount) {
  using namespace std::chrono_literals;
  auto login = [](test::TScriptServer& s) {
    s.SendLine("+OK hello").Expect("CAPA").SendLine("-ERR");
    s.ExpectAny().SendLine("+OK").ExpectAny().SendLine("+OK");
    s.Expect("STAT").SendLine("+OK 1 100").Expect("LIST").SendLine("+OK").SendLine("1 100");
    s.SendLine(".").Expect("TOP 1 0");
  };
  test::TScriptServer stall, closing, longLine;
  login(stall);
  stall.Stall(3000ms);
  login(closing);
  closing.SendRaw("+OK\r\nSubject: half").CloseConnection();
  // A line longer than any limit costs nothing: the header is cut, the
  // message listed and the account finished.
  login(longLine);
  longLine.SendRaw("+OK\r\nSubject: long\r\nX-Long: " + std::string(2 << 20, 'a') + "\r\n.\r\n");
  longLine.Expect("QUIT");
  stall.Start();
  closing.Start();
  longLine.Start();
  test::TPop3Mailbox good;
  good.AddUser(
      "bob", "pw",
      {"From: a@example.org\nTo: bob@example.org\nSubject: fine\nMessage-ID: <ok@x>\n\nhi\n"});
  good.Start();
  Accounts({{stall.HostPort(), "s", "pw", ""},
            {closing.HostPort(), "c", "pw", ""},
            {longLine.HostPort(), "l", "pw", ""},
            {good.HostPort(), "bob", "pw", ""}});

  TCheckEngine engine(home.Path(), *store, sink);
  engine.LoadPlan();
  engine.State().ReadTimeoutMs = 1000;
  ASSERT_EQ(engine.StartHeaderCheck(), TStartResult::Started);
  EXPECT_EQ(engine.StartHeaderCheck(), TStartResult::Busy);
  engine.WaitForWorkers();
  TCheckFinished done = engine.CheckFinished();
  ASSERT_TRUE(done.Acted);
  EXPECT_FALSE(engine.State().Busy);

  for (auto* s : {&stall, &closing}) {
    const std::string name = std::string(s == &stall ? "s" : "c");
    EXPECT_TRUE(sink.Said(name + "[" + s->HostPort() + "]检查新邮件信息失败!")) << name;
  }
  EXPECT_TRUE(sink.Said("邮箱 l[" + longLine.HostPort() + "]已被检查完毕。"));
  ASSERT_EQ(sink.Rows.size(), 2u);
  std::vector<std::string> subjects = {sink.Rows[0].Items[mcSubject],
                                       sink.Rows[1].Items[mcSubject]};
  std::sort(subjects.begin(), subjects.end());
  EXPECT_THAT(subjects, ::testing::ElementsAre("fine", "long"));
  EXPECT_EQ(done.NewMailCount, 4);
  ASSERT_TRUE(done.Brief);
  EXPECT_THAT(*done.Brief, Contains("主题: fine"));
  EXPECT_EQ(done.Brief->front(), "邮件检测报告");
  EXPECT_EQ(done.Brief->back(), "tolvane reported");
  EXPECT_EQ(done.WorkerMessage, "新到邮件：4");
  auto all = ReadRecordFile(AllRecordPath(home.Path()));
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 2u);
  EXPECT_EQ(sink.Ended, 3);
  // The handler acts once per run.
  EXPECT_FALSE(engine.CheckFinished().Acted);
}

TEST_F(TRunFixture, ARunWithoutNewMailBuildsNoBriefButSavesTheList) {
  test::TPop3Mailbox empty;
  empty.AddUser("bob", "pw");
  empty.Start();
  Accounts({{empty.HostPort(), "bob", "pw", ""}});
  test::WriteAll(AllRecordPath(home.Path()), std::string(3260, 'x'));
  TCheckEngine engine(home.Path(), *store, sink);
  engine.LoadPlan();
  ASSERT_EQ(engine.StartContentCheck(), TStartResult::Started);
  engine.WaitForWorkers();
  auto done = engine.CheckFinished();
  EXPECT_TRUE(done.Acted);
  EXPECT_FALSE(done.Brief);
  EXPECT_TRUE(done.AllRecordSaved);
  EXPECT_EQ(std::filesystem::file_size(AllRecordPath(home.Path())), 0u);
  TSettingsKey root;
  ASSERT_TRUE(OpenSettingsKey(*store, "", false, root));
  EXPECT_FALSE(ReadFlagValue(root, "chkContent", true));  // the content check writes 0
}

TEST_F(TRunFixture, StopEndsTheRunEarly) {
  test::TPop3Mailbox box;
  std::vector<std::string> mails;
  for (int i = 0; i < 50; ++i) {
    mails.push_back("From: a@x.org\nSubject: " + std::to_string(i) + "\n\nx\n");
  }
  box.AddUser("bob", "pw", mails);
  box.Start();
  Accounts({{box.HostPort(), "bob", "pw", ""}});
  TCheckEngine engine(home.Path(), *store, sink);
  engine.LoadPlan();
  sink.OnState = [&engine](const std::string& state) {
    if (state == "正在检查第 3 封邮件！")
      engine.Stop();
  };
  ASSERT_EQ(engine.StartHeaderCheck(), TStartResult::Started);
  engine.WaitForWorkers();
  EXPECT_TRUE(engine.CheckFinished().Acted);
  EXPECT_EQ(sink.Rows.size(), 3u);
  EXPECT_THAT(box.Commands(), Contains("RSET"));
}

}  // namespace
}  // namespace pelorix
