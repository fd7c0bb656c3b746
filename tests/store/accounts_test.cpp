#include "store/accounts.h"

#include <gtest/gtest.h>

#include "store/account_imap.h"
#include "store/connection_security.h"
#include "temp_folder.h"

namespace pelorix {
namespace {

using testing::TempFolder;

TEST(ScramblePassword, ComplementsTrimmedBytesAndIsItsOwnInverse) {
  EXPECT_EQ(ScramblePassword("abc"), "\x9E\x9D\x9C");
  EXPECT_EQ(ScramblePassword("  secret\t"), ScramblePassword("secret"));
  EXPECT_EQ(ScramblePassword(ScramblePassword(" secret ")), "secret");
  EXPECT_EQ(ScramblePassword("   "), "");
}

struct AccountsTest : ::testing::Test {
  TempFolder home;
  std::unique_ptr<TSettingsStore> store = TSettingsStore::Open(home.path());
};

TEST_F(AccountsTest, RegistryLayoutAndRoundTrip) {
  std::vector<TAccount> accounts = {
      {"pop.a.com", "bob", "abc", "家里"},
      {"pop.b.com", "bob", " pw ", ""},
  };
  ASSERT_TRUE(SaveAccounts(*store, accounts));
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "account", false, key));
  auto values = store->EnumValues(key);
  ASSERT_EQ(values.size(), 2u);
  // Same user on two servers: names differ only in the number in braces.
  EXPECT_EQ(values[0].name, "bob{0}");
  EXPECT_EQ(values[1].name, "bob{1}");
  EXPECT_EQ(values[0].type, TValueType::Text);
  EXPECT_EQ(values[0].data, "pop.a.com[\x9E\x9D\x9C]\xBC\xD2\xC0\xEF");
  EXPECT_EQ(values[1].data, "pop.b.com[\x8F\x88]");

  auto loaded = LoadAccounts(*store);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].Server, "pop.a.com");
  EXPECT_EQ(loaded[0].User, "bob");
  EXPECT_EQ(loaded[0].Password, "abc");
  EXPECT_EQ(loaded[0].Note, "家里");
  EXPECT_EQ(loaded[1].Password, "pw");  // stored trimmed

  // Saving again renumbers from zero and drops what is gone.
  loaded.erase(loaded.begin());
  ASSERT_TRUE(SaveAccounts(*store, loaded));
  EXPECT_EQ(store->EnumValueNames(key), std::vector<std::string>{"bob{0}"});
}

TEST_F(AccountsTest, DamagedValuesStillGiveRows) {
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, "Account", true, key));
  WriteAnsiTextValue(key, "noBrace", "pop.x.com");
  WriteAnsiTextValue(key, " carol{7} ", " pop.y.com]note[ ");
  auto loaded = LoadAccounts(*store);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].User, "");
  EXPECT_EQ(loaded[0].Server, "pop.x.com");
  EXPECT_EQ(loaded[0].Password, "");
  EXPECT_EQ(loaded[1].User, "carol");
  EXPECT_EQ(loaded[1].Server, "pop.y.com]note");
  EXPECT_EQ(loaded[1].Password, "");
}

TEST_F(AccountsTest, ClosingBracketInTheServerKeepsPasswordAndNote) {
  // Only "[" is refused in a server name; a "]" before it must not be taken
  // for the end of the password.
  std::vector<TAccount> accounts = {{"pop]x.com", "dan", "pw", "note"}, {"]", "eve", "", "n]o[te"}};
  ASSERT_TRUE(SaveAccounts(*store, accounts));
  auto loaded = LoadAccounts(*store);
  ASSERT_EQ(loaded.size(), 2u);
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    EXPECT_EQ(loaded[i].Server, accounts[i].Server);
    EXPECT_EQ(loaded[i].User, accounts[i].User);
    EXPECT_EQ(loaded[i].Password, accounts[i].Password);
    EXPECT_EQ(loaded[i].Note, accounts[i].Note);
  }
}

TEST(Accounts, AddingReplacesTheSameServerAndUserAndKeepsServerOrder) {
  std::vector<TAccount> list;
  ASSERT_TRUE(AddAccount(list, {"pop.z.com", "ann", "one", "z"}));
  ASSERT_TRUE(AddAccount(list, {" pop.a.com ", " ann ", " two ", " a "}));
  ASSERT_TRUE(AddAccount(list, {"pop.z.com", "ann", "three", "zz"}));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Server, "pop.a.com");
  EXPECT_EQ(list[0].User, "ann");
  EXPECT_EQ(list[0].Password, "two");
  EXPECT_EQ(list[0].Note, "a");
  EXPECT_EQ(list[1].Password, "three");
  EXPECT_EQ(list[1].Note, "zz");
  EXPECT_TRUE(RemoveAccount(list, "pop.a.com ", "ann"));
  EXPECT_FALSE(RemoveAccount(list, "pop.a.com", "ann"));
  EXPECT_EQ(list.size(), 1u);
}

TEST(Accounts, ImportedAccountKeepsThePasswordTypedForIt) {
  std::vector<TAccount> list;
  ASSERT_TRUE(AddAccount(list, {"pop.a.com", "ann", "typed", "old"}));
  ASSERT_TRUE(AddImportedAccount(list, {"pop.a.com", "ann", "", "Work"}));
  ASSERT_TRUE(AddImportedAccount(list, {"pop.b.com", "bob", "", ""}));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Password, "typed");
  EXPECT_EQ(list[0].Note, "Work");
  EXPECT_EQ(list[1].Password, "");
  EXPECT_FALSE(AddImportedAccount(list, {"", "nobody", "", ""}));
}

TEST(Accounts, RefusesWhatTheLayoutCannotHold) {
  std::vector<TAccount> list;
  std::string error;
  EXPECT_FALSE(AddAccount(list, {"pop.a.com", "ann", "  ", ""}, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(AddAccount(list, {"", "ann", "pw", ""}));
  EXPECT_FALSE(AddAccount(list, {"pop[1].com", "ann", "pw", ""}));
  EXPECT_FALSE(AddAccount(list, {"pop.a.com", "a{b", "pw", ""}));
  // Two users equal up to a zero byte would share one value name.
  EXPECT_FALSE(AddAccount(list, {"pop.a.com", std::string("a\0b", 3), "pw", ""}, nullptr, true));
  EXPECT_FALSE(AddAccount(list, {"pop.a.com", "ann\r\nDELE 1", "pw", ""}));
  EXPECT_FALSE(AddAccount(list, {"pop.a\n.com", "ann", "pw", ""}));
  // "あ" is A4 A2 on disk, scrambled "[]"; "七" ends in DF, scrambled a blank.
  EXPECT_FALSE(AddAccount(list, {"pop.a.com", "ann", "xあy", ""}));
  EXPECT_FALSE(AddAccount(list, {"pop.a.com", "ann", "ab七", ""}));
  EXPECT_FALSE(AddAccount(list, {"pop.a.com", "ann", "pw", std::string(250, 'n')}));
  EXPECT_TRUE(list.empty());
  EXPECT_TRUE(AddAccount(list, {"pop.a.com", "ann", "丁七x", "备注"}));
  // Imported accounts come without a password.
  EXPECT_TRUE(AddAccount(list, {"pop.b.com", "ann", "", ""}, nullptr, true));

  TempFolder home;
  auto store = TSettingsStore::Open(home.path());
  ASSERT_TRUE(SaveAccounts(*store, list));
  auto loaded = LoadAccounts(*store);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].Password, "丁七x");
  EXPECT_EQ(loaded[1].Password, "");
  // A list with a refused account is not saved at all.
  list.push_back({"pop.c.com", "x{y", "pw", ""});
  std::string why;
  EXPECT_FALSE(SaveAccounts(*store, list, &why));
  EXPECT_NE(why.find("x{y"), std::string::npos);
  EXPECT_EQ(LoadAccounts(*store).size(), 2u);
}

TEST(Accounts, NamesDerivedFromAnAccount) {
  TAccount a{"pop.a.com:995", "bob", "pw", ""};
  EXPECT_EQ(AccountKey(a), "bob[pop.a.com:995]");
  EXPECT_EQ(AccountFileName(a), "bob2pop.a.com:995");
  EXPECT_EQ(AccountQueueEntry(a), "pop.a.com:995|bob|pw");

  std::vector<TAccount> list = {
      {"s1", "u1", "", "Home"}, {"s2", "u2", "", "Home"},    {"s3", "u3", "", "Home"},
      {"s4", "u4", "", ""},     {"s5", "u5", "", "Home[1]"},
  };
  EXPECT_EQ(AccountDisplayNames(list),
            (std::vector<std::string>{"Home", "Home[1]", "Home[1][2]", "u4[s4]", "Home[1][1]"}));
}

TEST(Thunderbird, ReadsPop3ServersOfAProfile) {
  TempFolder profile;
  testing::WriteBytes(profile.path() / "prefs.js", R"(// Mozilla User Preferences
user_pref("mail.server.server1.hostname", "imap.example.com");
user_pref("mail.server.server1.type", "imap");
user_pref("mail.server.server1.userName", "ann");
user_pref("mail.server.server10.hostname", "pop.ten.com");
user_pref("mail.server.server10.type", "pop3");
user_pref("mail.server.server10.userName", "ten");
user_pref("mail.server.server2.hostname", "pop.example.com");
user_pref("mail.server.server2.name", "Work \"mail\"");
user_pref("mail.server.server2.port", 995);
user_pref("mail.server.server2.type", "pop3");
user_pref("mail.server.server2.userName", "bob@example.com");
user_pref("mail.server.server3.hostname", " pop.three.com ");
user_pref("mail.server.server3.port", 110);
user_pref("mail.server.server3.type", "pop3");
user_pref("mail.server.server3.userName", "three");
user_pref("mail.server.server4.type", "none");
user_pref("mail.server.server4.hostname", "Local Folders");
)");
  auto accounts = ReadThunderbirdAccounts(profile.path());
  ASSERT_EQ(accounts.size(), 3u);
  EXPECT_EQ(accounts[0].Server, "pop.example.com:995");
  EXPECT_EQ(accounts[0].User, "bob@example.com");
  EXPECT_EQ(accounts[0].Note, "Work \"mail\"");
  EXPECT_EQ(accounts[0].Password, "");
  EXPECT_EQ(accounts[1].Server, "pop.three.com");
  EXPECT_EQ(accounts[2].Server, "pop.ten.com");
  EXPECT_TRUE(ReadThunderbirdAccounts(profile.path() / "missing").empty());
  // The IMAP accounts of the same profile, asked for apart.
  const auto imap = ReadThunderbirdAccounts(profile.path(), true);
  ASSERT_EQ(imap.size(), 1u);
  EXPECT_EQ(imap[0].Server, "imap.example.com");
  EXPECT_EQ(imap[0].User, "ann");
}

TEST(ImapAccountSettings, StoredBesideThePop3LayoutAndRemovedAgain) {
  TempFolder home;
  auto store = TSettingsStore::Open(home.path());
  ASSERT_TRUE(store);
  const TAccount pop{"pop.example.com", "ann", "pw", ""};
  const TAccount imap{"imap.example.com", "ann", "pw", "work"};
  ASSERT_TRUE(SaveAccounts(*store, {pop, imap}));
  TImapAccountSettings settings{"trash", ParseFolderList(" INBOX , 工作|Lists,, ")};
  EXPECT_EQ(settings.Folders, (std::vector<std::string>{"INBOX", "工作", "Lists"}));
  ASSERT_TRUE(WriteImapSettings(*store, AccountKey(imap), settings));
  EXPECT_EQ(ReadImapSettings(*store, AccountKey(imap)), settings);
  EXPECT_FALSE(ReadImapSettings(*store, AccountKey(pop)));
  // The Account values themselves are those of two POP3 accounts.
  const auto loaded = LoadAccounts(*store);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[1].Server, "imap.example.com");
  EXPECT_EQ(loaded[1].Note, "work");
  EXPECT_EQ(LoadConnectionPolicy(*store).ImapOf(AccountKey(imap)), settings);
  EXPECT_EQ(DecodeImapSettings("bogus").DeleteMode, "auto");
  EXPECT_EQ(DecodeImapSettings("bogus").Folders, std::vector<std::string>{"INBOX"});
  ASSERT_TRUE(WriteImapSettings(*store, AccountKey(imap), std::nullopt));
  EXPECT_FALSE(ReadImapSettings(*store, AccountKey(imap)));
}

}  // namespace
}  // namespace pelorix
