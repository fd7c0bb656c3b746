// Secrets in the desktop keyring (a private gnome-keyring on its own bus)
// and the settings file's own form where no keyring answers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "store/accounts.h"
#include "store/secret_store.h"
#include "store/smtp_secret.h"
#include "support/keyring.h"
#include "support/scoped_env.h"
#include "temp_folder.h"

namespace pelorix {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::TempFolder;

// The settings file with its write-ahead log.
std::string FileBytes(const std::filesystem::path& file) {
  std::ostringstream text;
  for (const std::string suffix : {"", "-wal"}) {
    std::ifstream in(file.string() + suffix, std::ios::binary);
    text << in.rdbuf();
  }
  return text.str();
}

// An older start's layout: passwords scrambled in the values, SMTP's as text.
void WriteOldLayout(TSettingsStore& store) {
  TSettingsKey account, smtp;
  ASSERT_TRUE(OpenSettingsKey(store, kAccountKey, true, account));
  ASSERT_TRUE(OpenSettingsKey(store, "Smtp", true, smtp));
  WriteAnsiTextValue(account, "ann{0}", "pop.a.test[" + ScramblePassword("pass-ann-1") + "]home");
  WriteAnsiTextValue(account, "ben{1}", "pop.b.test[" + ScramblePassword("pass-ben-2") + "]");
  WriteTextValue(smtp, "password", "smtp-pass-3");
}

// Runs first, before any bus connection exists in this process.
TEST(SecretsWithoutKeyring, SettingsFileKeepsItsOwnFormReadableOnlyByTheUser) {
  test::TScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
  TempFolder home;
  auto store = TSettingsStore::Open(home.path());
  ASSERT_TRUE(store);
  EXPECT_EQ(store->Keyring(), nullptr);
  EXPECT_FALSE(store->KeyringMissingReason().empty());
  WriteOldLayout(*store);
  EXPECT_EQ(MoveSecretsToKeyring(*store), 0);
  auto accounts = LoadAccounts(*store);
  ASSERT_EQ(accounts.size(), 2u);
  EXPECT_EQ(accounts[0].Password, "pass-ann-1");
  EXPECT_EQ(ReadSmtpPassword(*store), "smtp-pass-3");
  ASSERT_TRUE(SaveAccounts(*store, accounts));
  ASSERT_TRUE(WriteSmtpPassword(*store, "smtp-pass-4"));
  EXPECT_THAT(FileBytes(store->FilePath()), HasSubstr(ScramblePassword("pass-ann-1")));
  struct stat st {};
  ASSERT_EQ(::stat(store->FilePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A reference left by a session that had a keyring costs only its account.
  TSettingsKey refs;
  ASSERT_TRUE(OpenSettingsKey(*store, kSecretsKey, true, refs));
  WriteTextValue(refs, AccountSecretName("ben[pop.b.test]"), kKeyringReference);
  accounts = LoadAccounts(*store);
  EXPECT_EQ(accounts[0].Password, "pass-ann-1");
  EXPECT_TRUE(accounts[0].SecretProblem.empty());
  EXPECT_THAT(accounts[1].SecretProblem, HasSubstr("密钥环不可用"));
}

class SecretsInKeyring : public ::testing::Test {
 protected:
  // One bus for the whole suite: GLib keeps one session connection per process.
  static void SetUpTestSuite() {
    if (!test::TKeyringSession::SkipReason().empty())
      return;
    session_ = new test::TKeyringSession;
    if (!session_->Start())
      failure_ = session_->Failure();
  }
  static void TearDownTestSuite() {
    delete session_;
    session_ = nullptr;
  }
  void SetUp() override {
    if (auto why = test::TKeyringSession::SkipReason(); !why.empty())
      GTEST_SKIP() << why;
    if (!failure_.empty())
      GTEST_SKIP() << failure_;
    store = TSettingsStore::Open(home.path());
    ASSERT_TRUE(store);
    ASSERT_NE(store->Keyring(), nullptr) << store->KeyringMissingReason();
  }
  static inline test::TKeyringSession* session_ = nullptr;
  static inline std::string failure_;
  TempFolder home;
  std::unique_ptr<TSettingsStore> store;
};

TEST_F(SecretsInKeyring, FirstStartMovesEveryPasswordOutOfTheSettingsFile) {
  WriteOldLayout(*store);
  EXPECT_EQ(MoveSecretsToKeyring(*store), 3);
  EXPECT_EQ(MoveSecretsToKeyring(*store), 0);
  const std::string bytes = FileBytes(store->FilePath());
  for (const char* secret : {"pass-ann-1", "pass-ben-2", "smtp-pass-3"}) {
    EXPECT_EQ(bytes.find(ScramblePassword(secret)), std::string::npos) << secret;
    EXPECT_EQ(bytes.find(secret), std::string::npos) << secret;
  }
  // The values keep their layout, only the password gone from between the brackets.
  TSettingsKey key;
  ASSERT_TRUE(OpenSettingsKey(*store, kAccountKey, false, key));
  EXPECT_EQ(store->EnumValues(key)[0].data, "pop.a.test[]home");

  // Another start of the same home reads them back; another home does not.
  auto again = TSettingsStore::Open(home.path());
  const auto accounts = LoadAccounts(*again);
  ASSERT_EQ(accounts.size(), 2u);
  EXPECT_EQ(accounts[0].Password, "pass-ann-1");
  EXPECT_EQ(accounts[1].Password, "pass-ben-2");
  EXPECT_EQ(ReadSmtpPassword(*again), "smtp-pass-3");
  TempFolder otherHome;
  auto other = TSettingsStore::Open(otherHome.path());
  EXPECT_FALSE(other->Keyring()->Lookup(AccountSecretName("ann[pop.a.test]")).Secret);
}

TEST_F(SecretsInKeyring, LostItemCostsOnlyItsAccountAndRemovedAccountsLeaveNoItem) {
  std::vector<TAccount> accounts = {{"pop.a.test", "ann", "pw-a", ""},
                                    {"pop.b.test", "ben", "pw-b", ""},
                                    {"pop.c.test", "cat", "pw-c", ""}};
  ASSERT_TRUE(SaveAccounts(*store, accounts));
  TSecretBackend& keyring = *store->Keyring();
  ASSERT_TRUE(keyring.Clear(AccountSecretName("ben[pop.b.test]"), nullptr));

  accounts = LoadAccounts(*store);
  ASSERT_EQ(accounts.size(), 3u);
  EXPECT_EQ(accounts[0].Password, "pw-a");
  EXPECT_THAT(accounts[1].Password, IsEmpty());
  EXPECT_EQ(accounts[1].SecretProblem, "密钥环中没有这个帐号的密码");
  EXPECT_EQ(accounts[2].Password, "pw-c");

  // Saving an unread account keeps its reference; a removed one loses its item.
  accounts.pop_back();
  ASSERT_TRUE(SaveAccounts(*store, accounts));
  EXPECT_FALSE(keyring.Lookup(AccountSecretName("cat[pop.c.test]")).Secret);
  accounts = LoadAccounts(*store);
  EXPECT_FALSE(accounts[1].SecretProblem.empty());
  accounts[1].Password = "pw-b2";
  accounts[1].SecretProblem.clear();
  ASSERT_TRUE(SaveAccounts(*store, accounts));
  EXPECT_EQ(LoadAccounts(*store)[1].Password, "pw-b2");

  // An emptied SMTP password removes the item as well.
  ASSERT_TRUE(WriteSmtpPassword(*store, "s"));
  EXPECT_EQ(keyring.Lookup(kSmtpSecretName).Secret, "s");
  ASSERT_TRUE(WriteSmtpPassword(*store, ""));
  EXPECT_FALSE(keyring.Lookup(kSmtpSecretName).Secret);
  EXPECT_EQ(ReadSmtpPassword(*store), "");
}

}  // namespace
}  // namespace pelorix
