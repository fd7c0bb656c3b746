#include "store/settings_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "store/filter_lists.h"
#include "store/mail_plan.h"
#include "temp_folder.h"

namespace pelorix {
namespace {

using testing::TempFolder;

struct StoreTest : ::testing::Test {
  TempFolder home;
  std::unique_ptr<TSettingsStore> store = TSettingsStore::Open(home.path());

  TSettingsKey Key(std::string_view path) {
    TSettingsKey key;
    EXPECT_TRUE(OpenSettingsKey(*store, path, true, key));
    return key;
  }
};

TEST_F(StoreTest, KeyAndValueNamesIgnoreCase) {
  ASSERT_TRUE(store);
  TSettingsKey key = Key("MailCheck");
  WriteTextValue(key, "SkipBytes", "100");

  TSettingsKey other;
  ASSERT_TRUE(OpenSettingsKey(*store, "mailcheck", false, other));
  EXPECT_EQ(ReadTextValue(other, "skipbytes", "x"), "100");
  ASSERT_TRUE(OpenSettingsKey(*store, "Software\\Tolvane\\Pelorix\\MAILCHECK", false, other));
  EXPECT_EQ(ReadTextValue(other, "SKIPBYTES", "x"), "100");

  // Rewriting under another spelling changes the one value, keeping its name.
  WriteTextValue(other, "skipBYTES", "200");
  auto values = store->EnumValues(key);
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].name, "SkipBytes");
  EXPECT_EQ(values[0].data, "200");
}

TEST_F(StoreTest, ValuesEnumerateInCreationOrder) {
  TSettingsKey key = Key("RMail_title");
  for (const char* name : {"c", "a", "b"})
    WriteTextValue(key, name, "");
  WriteTextValue(key, "A", "again");  // a rewrite keeps its place
  EXPECT_EQ(store->EnumValueNames(key), (std::vector<std::string>{"c", "a", "b"}));

  EXPECT_TRUE(store->DeleteValue(key, "a"));
  EXPECT_FALSE(store->DeleteValue(key, "a"));
  WriteTextValue(key, "a", "");
  EXPECT_EQ(store->EnumValueNames(key), (std::vector<std::string>{"c", "b", "a"}));

  // Deleted and created again, the key holds only what was written since.
  EXPECT_TRUE(store->DeleteKey("rmail_TITLE"));
  EXPECT_FALSE(ReadFlagValue(key, "c", false));
  key = Key("RMail_title");
  for (const char* name : {"z", "b", "y"})
    WriteTextValue(key, name, "");
  EXPECT_EQ(store->EnumValueNames(key), (std::vector<std::string>{"z", "b", "y"}));
}

TEST_F(StoreTest, DeletingAKeyTakesItsSubKeysOnly) {
  WriteTextValue(Key("A\\B"), "v", "1");
  WriteTextValue(Key("AB"), "v", "2");
  WriteTextValue(Key("A"), "v", "3");
  EXPECT_TRUE(store->DeleteKey("a"));
  EXPECT_FALSE(store->KeyExists("A"));
  EXPECT_FALSE(store->KeyExists("A\\B"));
  EXPECT_EQ(ReadTextValue(Key("AB"), "v", ""), "2");
  // The root cannot go.
  EXPECT_FALSE(store->DeleteKey(""));
  // Writing through a handle of a deleted key does nothing.
  TSettingsKey gone = Key("Gone");
  store->DeleteKey("Gone");
  WriteTextValue(gone, "v", "x");
  EXPECT_FALSE(store->KeyExists("Gone"));
}

TEST_F(StoreTest, FlagsAreFourBytes) {
  TSettingsKey key = Key("MailCheck");
  WriteFlagValue(key, "on", true);
  WriteFlagValue(key, "off", false);
  TSettingsValue v;
  ASSERT_TRUE(store->ReadValue(key, "on", v));
  EXPECT_EQ(v.type, TValueType::Binary);
  EXPECT_EQ(v.data, std::string("\xFF\xFF\xFF\xFF", 4));
  ASSERT_TRUE(store->ReadValue(key, "off", v));
  EXPECT_EQ(v.data, std::string(4, '\0'));

  store->WriteValue(key, "one", TValueType::Binary, std::string("\x01\0\0\0", 4));
  store->WriteValue(key, "high", TValueType::Binary, std::string("\0\0\0\x80", 4));
  store->WriteValue(key, "long", TValueType::Binary, std::string("\x01\0\0\0\0", 5));
  store->WriteValue(key, "empty", TValueType::Binary, "");
  EXPECT_TRUE(ReadFlagValue(key, "one", false));
  EXPECT_TRUE(ReadFlagValue(key, "high", false));
  EXPECT_FALSE(ReadFlagValue(key, "off", true));
  EXPECT_TRUE(ReadFlagValue(key, "on", false));
  EXPECT_TRUE(ReadFlagValue(key, "long", true));  // unreadable: the default
  EXPECT_FALSE(ReadFlagValue(key, "long", false));
  EXPECT_TRUE(ReadFlagValue(key, "empty", true));
  EXPECT_TRUE(ReadFlagValue(key, "missing", true));
}

TEST_F(StoreTest, NumbersAreSignedDwords) {
  TSettingsKey key = Key("Smtp");
  WriteNumberValue(key, "authType", -1);
  WriteNumberValue(key, "big", 0x12345678);
  TSettingsValue v;
  ASSERT_TRUE(store->ReadValue(key, "big", v));
  EXPECT_EQ(v.type, TValueType::Number);
  EXPECT_EQ(v.data, std::string("\x78\x56\x34\x12", 4));
  EXPECT_EQ(ReadNumberValue(key, "authType", 0), -1);
  EXPECT_EQ(ReadNumberValue(key, "missing", 7), 7);
  WriteTextValue(key, "text", "abcdefgh");
  EXPECT_EQ(ReadNumberValue(key, "text", 9), 9);
}

TEST_F(StoreTest, TextsAreAtMost255BytesOfGb18030) {
  TSettingsKey key = Key("Smtp");
  std::string ascii255(255, 'x');
  WriteTextValue(key, "a", ascii255);
  EXPECT_EQ(ReadTextValue(key, "a", ""), ascii255);

  // 127 Chinese characters and one letter: exactly 255 bytes on disk.
  std::string chinese;
  for (int i = 0; i < 127; ++i)
    chinese += "中";
  WriteTextValue(key, "c", chinese + "x");
  TSettingsValue v;
  ASSERT_TRUE(store->ReadValue(key, "c", v));
  EXPECT_EQ(v.data.size(), 255u);
  EXPECT_EQ(v.data.substr(0, 2), "\xD6\xD0");
  EXPECT_EQ(ReadTextValue(key, "c", ""), chinese + "x");

  // Longer texts are cut, never in the middle of a character.
  WriteTextValue(key, "long", chinese + chinese);
  ASSERT_TRUE(store->ReadValue(key, "long", v));
  EXPECT_EQ(v.data.size(), 254u);
  EXPECT_EQ(ReadTextValue(key, "long", ""), chinese);

  store->WriteValue(key, "over", TValueType::Text, std::string(256, 'y'));
  EXPECT_EQ(ReadTextValue(key, "over", "default"), "default");
  EXPECT_FALSE(WriteAnsiTextValue(key, "over2", std::string(256, 'y')));

  // Written by another tool with a terminating zero.
  store->WriteValue(key, "z", TValueType::Text, std::string("abc\0", 4));
  EXPECT_EQ(ReadTextValue(key, "z", ""), "abc");
  // An empty text is a value, not a missing one.
  WriteTextValue(key, "e", "");
  EXPECT_EQ(ReadTextValue(key, "e", "default"), "");
  // A flag is not a text.
  WriteFlagValue(key, "f", true);
  EXPECT_EQ(ReadTextValue(key, "f", "default"), "default");
}

TEST_F(StoreTest, UnopenedKeysFailSilently) {
  TSettingsKey key;
  EXPECT_FALSE(OpenSettingsKey(*store, "Nowhere", false, key));
  EXPECT_FALSE(OpenSettingsKey(nullptr, "MailCheck", true, key));
  WriteFlagValue(key, "x", true);
  WriteTextValue(key, "x", "y");
  EXPECT_TRUE(ReadFlagValue(key, "x", true));
  EXPECT_EQ(ReadTextValue(key, "x", "d"), "d");
  EXPECT_EQ(ReadNumberValue(key, "x", 3), 3);
  EXPECT_FALSE(store->KeyExists("Nowhere"));
}

TEST_F(StoreTest, TransactionsLandWholeOrNotAtAll) {
  TSettingsKey key = Key("MailCheck");
  WriteTextValue(key, "kept", "old");
  EXPECT_THROW(store->Write([&] {
    WriteTextValue(key, "kept", "new");
    throw std::runtime_error("stop");
  }),
               std::runtime_error);
  EXPECT_EQ(ReadTextValue(key, "kept", ""), "old");

  // A failed write inside rolls back the others too.
  TSettingsKey gone = Key("Gone");
  store->DeleteKey("Gone");
  EXPECT_FALSE(store->Write([&] {
    WriteTextValue(key, "kept", "new");
    WriteTextValue(gone, "v", "x");
  }));
  EXPECT_EQ(ReadTextValue(key, "kept", ""), "old");

  // Writing inside a read is refused rather than risking a stale snapshot.
  bool nested = true;
  store->Read([&] { nested = store->Write([&] { WriteTextValue(key, "kept", "new"); }); });
  EXPECT_FALSE(nested);
  EXPECT_EQ(ReadTextValue(key, "kept", ""), "old");

  EXPECT_TRUE(store->Write([&] { WriteTextValue(key, "kept", "new"); }));
  EXPECT_EQ(ReadTextValue(key, "kept", ""), "new");
}

TEST_F(StoreTest, FileIsPrivateAndSharedBetweenConnections) {
  struct stat st {};
  ASSERT_EQ(::stat((home.path() / "registry.db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  auto second = TSettingsStore::Open(home.path());
  ASSERT_TRUE(second);
  WriteTextValue(Key("Smtp"), "SmtpServer", "mail.example.com");
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*second, "smtp", false, key));
  EXPECT_EQ(ReadTextValue(key, "smtpserver", ""), "mail.example.com");

  std::string error;
  EXPECT_FALSE(TSettingsStore::OpenFile(home.path() / "missing" / "registry.db", &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(StoreTest, ThreadsAndConnectionsWriteTogether) {
  auto other = TSettingsStore::Open(home.path());
  ASSERT_TRUE(other);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      TSettingsStore& s = t % 2 ? *other : *store;
      TSettingsKey key;
      if (!OpenSettingsKey(s, "Work", true, key))
        return;
      for (int i = 0; i < 25; ++i) {
        s.Write(
            [&] { WriteNumberValue(key, "t" + std::to_string(t) + "_" + std::to_string(i), i); });
      }
    });
  }
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(store->EnumValues(Key("Work")).size(), 100u);
}

// A process killed in the middle of saving leaves the settings of the last
// finished save, never a mixture.
TEST(SettingsStoreCrash, KillDuringSaveKeepsAWholeSave) {
  TempFolder home;
  auto plan = [](bool variant) {
    TMailPlan p;
    p.autocheck = variant;
    p.checkTime = variant ? 11 : 22;
    p.ClearMoreRub = !variant;
    p.ClearMoreRubNum = variant ? 1111 : 2222;
    p.SkipBytes = variant ? 33 : 44;
    p.DeleteRubbish = variant;
    p.GetMailAddress = variant;
    p.checkDeliver = variant;
    p.checkSkipBytes = variant;
    p.checkNoMsg = variant;
    p.MailProg = variant ? "/usr/bin/first" : "/usr/bin/second";
    p.CheckSummary = variant;
    return p;
  };
  auto same = [](const TMailPlan& a, const TMailPlan& b) {
    return a.autocheck == b.autocheck && a.checkTime == b.checkTime &&
           a.ClearMoreRub == b.ClearMoreRub && a.ClearMoreRubNum == b.ClearMoreRubNum &&
           a.SkipBytes == b.SkipBytes && a.DeleteRubbish == b.DeleteRubbish &&
           a.GetMailAddress == b.GetMailAddress && a.checkDeliver == b.checkDeliver &&
           a.checkSkipBytes == b.checkSkipBytes && a.checkNoMsg == b.checkNoMsg &&
           a.MailProg == b.MailProg && a.CheckSummary == b.CheckSummary;
  };
  // Filter lists are saved by deleting and re-creating their keys.
  auto lists = [](bool variant) {
    TFilterLists l;
    for (int i = 0; i < (variant ? 40 : 25); ++i) {
      l.Subject.push_back((variant ? "first " : "second ") + std::to_string(i));
    }
    return l;
  };
  {
    auto store = TSettingsStore::Open(home.path());
    ASSERT_TRUE(store);
    ASSERT_TRUE(plan(true).Save(*store));
    ASSERT_TRUE(SaveFilterLists(*store, lists(true)));
  }
  for (int round = 0; round < 5; ++round) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(ready[0]);
      auto store = TSettingsStore::Open(home.path());
      if (!store)
        ::_exit(1);
      for (long i = 0;; ++i) {
        plan(i % 2 == 0).Save(*store);
        SaveFilterLists(*store, lists(i % 2 == 1));
        if (i == 3) {
          char c = 1;
          if (::write(ready[1], &c, 1) != 1)
            ::_exit(2);
        }
      }
    }
    ::close(ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    // Vary the moment of the kill a little from round to round.
    std::this_thread::sleep_for(std::chrono::microseconds(300 * round));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    auto store = TSettingsStore::Open(home.path());
    ASSERT_TRUE(store);
    TMailPlan loaded;
    ASSERT_TRUE(loaded.Load(*store));
    EXPECT_TRUE(same(loaded, plan(true)) || same(loaded, plan(false))) << "round " << round;
    auto subject = LoadFilterLists(*store).Subject;
    EXPECT_TRUE(subject == lists(true).Subject || subject == lists(false).Subject)
        << "round " << round;
    TSettingsKey key;
    ASSERT_TRUE(OpenSettingsKey(*store, kMailCheckKey, false, key));
    EXPECT_EQ(store->EnumValues(key).size(), 14u);
  }
}

}  // namespace
}  // namespace pelorix
