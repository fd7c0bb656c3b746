#include "engine/letter_fetch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/mail_list.h"
#include "engine/record_files.h"
#include "engine/run_state.h"
#include "store/accounts.h"
#include "store/settings_store.h"
#include "support/dovecot.h"
#include "test_home.h"
#include "text/ansi.h"

namespace pelorix {
namespace {

using ::testing::HasSubstr;

std::string Mail(const std::string& id, const std::string& body) {
  return "From: a@example.org\nTo: alice@example.org\nSubject: s\nMessage-ID: " + id +
         "\nContent-Type: text/html; charset=utf-8\n\n" + body + "\n";
}

TEST(LetterFetch, TheRowsMessageIsFoundByItsKeyAndWrittenAsAContentCheckWouldLeaveIt) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  dovecot.AddUser("alice", "pw",
                  {Mail("<m1@x>", "<p>first</p>"), Mail("<m2@x>", "<p>second<br>line</p>")});
  dovecot.Start();
  test::TTempHome home;
  auto store = TSettingsStore::Open(home.Path());
  ASSERT_TRUE(store);
  ASSERT_TRUE(SaveAccounts(*store, {{dovecot.HostPort(), "alice", "pw", ""}}));
  TRunState state(home.Path());

  TMailRow row;
  row.Items[mcAccountKey] = "alice[" + dovecot.HostPort() + "]";
  row.Items[mcMessageKey] = "<m2@x>";
  row.Items[mcNumber] = "1";  // numbers move; the key decides
  EXPECT_TRUE(LetterBodyMissing(home.Path(), row));
  EXPECT_TRUE(FetchLettersOnDemand(*store));
  const auto fetch = LetterFetchOf(*store, row);
  ASSERT_TRUE(fetch);
  const TLetterFetchResult done = FetchLetter(home.Path(), *fetch, state);
  ASSERT_EQ(done.Status, TLetterFetchStatus::Fetched) << done.Line;
  EXPECT_FALSE(LetterBodyMissing(home.Path(), row));
  const std::string key = KeyFileName("<m2@x>");
  EXPECT_THAT(test::ReadAll(BodyFilePath(home.Tmp(), key)), HasSubstr("second<br>line"));
  EXPECT_THAT(FromAnsi(test::ReadAll(home.Tmp() / (key + ".txt"))), HasSubstr("second\r\nline"));
  EXPECT_THAT(test::ReadAll(HeaderFilePath(home.Tmp(), key)), HasSubstr("Message-ID: <m2@x>"));
  EXPECT_EQ(dovecot.MessageCount("alice"), 2u);  // nothing changed on the server

  // Gone from the server: said in one line, nothing written.
  row.Items[mcMessageKey] = "<m9@x>";
  const TLetterFetchResult gone = FetchLetter(home.Path(), *LetterFetchOf(*store, row), state);
  EXPECT_EQ(gone.Status, TLetterFetchStatus::Gone);
  EXPECT_THAT(gone.Line, HasSubstr("已经没有这封信"));
  EXPECT_EQ(gone.Line.find('\n'), std::string::npos);
  EXPECT_TRUE(LetterBodyMissing(home.Path(), row));

  // Deleted, an account no longer set up, a row without a key: nothing to fetch.
  row.Items[mcDeletionMark] = "Deleted";
  EXPECT_FALSE(LetterFetchOf(*store, row));
  row.Items[mcDeletionMark] = "";
  row.Items[mcAccountKey] = "bob[" + dovecot.HostPort() + "]";
  EXPECT_FALSE(LetterFetchOf(*store, row));
  row.Items[mcMessageKey] = " ";
  EXPECT_FALSE(LetterBodyMissing(home.Path(), row));

  TSettingsKey settings;
  ASSERT_TRUE(OpenSettingsKey(*store, "MailCheck", true, settings));
  WriteFlagValue(settings, "FetchLetters", false);
  EXPECT_FALSE(FetchLettersOnDemand(*store));
}

}  // namespace
}  // namespace pelorix
