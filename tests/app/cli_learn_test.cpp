#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "classify/classifier.h"
#include "cli_fixture.h"
#include "engine/mail_list.h"
#include "engine/record_files.h"
#include "mime/mail_message.h"
#include "store/accounts.h"
#include "store/filter_lists.h"
#include "store/mail_plan.h"
#include "store/settings_store.h"
#include "support/dovecot.h"

namespace pelorix {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Two kinds of mail a judge can tell apart by their header lines alone.
std::string Spam(int n) {
  return "Received: from bulk" + std::to_string(n) + ".offers.example ([203.0.113." +
         std::to_string(n % 200 + 1) + "]) by pop.example.org\n" + "From: \"Best Deals\" <deal" +
         std::to_string(n * 7919) + "@offers.example>\n" +
         "To: undisclosed-recipients:;\nSubject: CHEAP PILLS discount " + std::to_string(n) +
         "!!!\nMessage-ID: <" + std::to_string(n * 104729) + ".QX@offers.example>\n" +
         "X-Mailer: Bulk Blaster 3.0\nDate: Tue, 08 Dec 2026 10:00:00 +0000\n\nbuy now\n";
}
std::string Good(int n) {
  return "Received: from mail.work.example ([198.51.100.7]) by pop.example.org\n"
         "From: Colleague <colleague@work.example>\nTo: alice@example.org\n"
         "Subject: Re: meeting notes week " +
         std::to_string(n) + "\nMessage-ID: <note-" + std::to_string(n) +
         "@work.example>\nUser-Agent: Mutt/2.2\nDate: Tue, 08 Dec 2026 10:00:00 +0000\n\nsee you\n";
}

std::uint64_t IdentityOf(const std::string& text) {
  TMailMessage m;
  ParseMessageText(text, m, true);
  return MessageIdentity(m);
}

class Learn : public test::TCliFixture {
 protected:
  fs::path WriteFolder(const std::string& name, int from, int count, std::string (*make)(int)) {
    const fs::path dir = home_ / "corpus" / name;
    fs::create_directories(dir);
    for (int i = from; i < from + count; ++i)
      std::ofstream(dir / (std::to_string(i) + ".eml")) << make(i);
    return dir;
  }
  std::optional<TLearntMessage> Learnt(const std::string& text) {
    auto store = TTokenStore::Open(TTokenStore::PathIn(home_));
    return store->Learnt(IdentityOf(text));
  }
};

TEST_F(Learn, SilentUntilTaughtThenMarksSpamDeletesAndRestoresAsGood) {
  if (auto why = test::TDovecotServer::SkipReason(); !why.empty())
    GTEST_SKIP() << why;
  test::TDovecotServer dovecot;
  // Judged spam, judged good, and one the subject list takes first.
  dovecot.AddUser("alice", "a-pw", {Spam(500), Good(500), Spam(501), Good(501) + "\n"});
  dovecot.Start();
  const std::string host = dovecot.HostPort();
  const std::string account = "alice[" + host + "]";
  {
    auto store = TSettingsStore::Open(home_);
    ASSERT_TRUE(SaveAccounts(*store, {{host, "alice", "a-pw", ""}}));
    TFilterLists lists;
    lists.Subject = {"week 501"};
    ASSERT_TRUE(SaveFilterLists(*store, lists));
    TMailPlan plan;
    plan.Load(*store);
    plan.CheckSummary = true;
    ASSERT_TRUE(plan.Save(*store));
  }

  // Before it has learnt enough, the judge says so and marks nothing.
  auto silent = Run({"check"});
  ASSERT_EQ(silent.status, 0) << silent.err;
  EXPECT_THAT(silent.err, HasSubstr("各学满 20 封后开始判断"));
  const fs::path spa = home_ / "tmp" / (AccountFileName({host, "alice", "", ""}) + ".spa");
  EXPECT_EQ(ReadRecordFile(spa)->size(), 1u);  // the list's

  const fs::path spamDir = WriteFolder("spam", 0, 30, Spam);
  const fs::path goodDir = WriteFolder("good", 0, 30, Good);
  auto learnt = Run({"learn", "--spam", spamDir.string(), "--ham", goodDir.string()});
  ASSERT_EQ(learnt.status, 0) << learnt.err;
  EXPECT_THAT(learnt.out, HasSubstr("spam: 30 learnt"));
  EXPECT_THAT(learnt.out, HasSubstr("good: 30 learnt"));
  // Learning the same again counts nothing twice.
  EXPECT_THAT(Run({"learn", "--spam", spamDir.string()}).out,
              HasSubstr("0 learnt, 0 moved from the other class, 30 already"));

  auto r = Run({"check"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto spam = ReadRecordFile(spa);
  ASSERT_TRUE(spam);
  ASSERT_EQ(spam->size(), 3u);
  EXPECT_EQ((*spam)[0].Subject, "CHEAP PILLS discount 500!!!");
  EXPECT_EQ((*spam)[2].Subject, "Re: meeting notes week 501");
  EXPECT_THAT(r.out, HasSubstr("主题标识特征串\"week 501\""));
  EXPECT_THAT(r.out, HasSubstr("自动判断为垃圾邮件"));
  EXPECT_THAT(r.out, HasSubstr("垃圾邮件评分: "));
  // The list shows the scores, pre-ticked where the judge said spam.
  TMailList list;
  ASSERT_TRUE(list.LoadRecordFile(AllRecordPath(home_), true));
  ASSERT_EQ(list.Count(), 4u);
  EXPECT_GE(list.Row(0).Score, 95);
  EXPECT_TRUE(list.Row(0).Checked);
  EXPECT_LT(list.Row(1).Score, 50);
  EXPECT_FALSE(list.Row(1).Checked);
  EXPECT_FALSE(list.Row(0).Clues.empty());

  // Scores are shown by `classify` too, for scripts.
  std::ofstream(home_ / "one.eml") << Spam(900);
  EXPECT_THAT(Run({"classify", (home_ / "one.eml").string()}).out, HasSubstr("\tspam\t"));

  // Deleting the ticked rows teaches the judge they are spam.
  auto d = Run({"delete"});
  ASSERT_EQ(d.status, 0) << d.err;
  for (int i = 0; i < 50 && dovecot.MessageCount("alice") != 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(dovecot.MessageCount("alice"), 1u);
  ASSERT_TRUE(Learnt(Spam(500)));
  EXPECT_EQ(Learnt(Spam(500))->Class, TLearnClass::Spam);
  EXPECT_EQ(Learnt(Good(501) + "\n")->Class, TLearnClass::Spam);

  // A restored message was good after all.
  auto back = Run({"restore", "--mbox", (home_ / "back.mbox").string(),
                   "<" + std::to_string(500 * 104729) + ".QX@offers.example>"});
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_EQ(Learnt(Spam(500))->Class, TLearnClass::Good);

  // An explicit mark moves it back.
  auto mark = Run({"mark", "spam", "<" + std::to_string(500 * 104729) + ".QX@offers.example>"});
  EXPECT_EQ(mark.status, 0) << mark.err;
  EXPECT_EQ(Learnt(Spam(500))->Class, TLearnClass::Spam);
  EXPECT_EQ(Run({"mark", "ham", "<nothing@here>"}).status, 1);
}

TEST_F(Learn, MboxAndMaildirSourcesAndUsage) {
  std::ofstream(home_ / "spam.mbox") << "From a@b Tue Dec  8 10:00:00 2026\n"
                                     << Spam(1) << "\nFrom a@b Tue Dec  8 10:00:01 2026\n"
                                     << Spam(2) << "\n";
  fs::create_directories(home_ / "md" / "cur");
  fs::create_directories(home_ / "md" / "tmp");
  std::ofstream(home_ / "md" / "cur" / "1:2,S") << Good(1);
  std::ofstream(home_ / "md" / "tmp" / "half") << Good(2);  // not delivered yet
  auto r =
      Run({"learn", "--spam", (home_ / "spam.mbox").string(), "--ham", (home_ / "md").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("spam: 2 learnt"));
  EXPECT_THAT(r.out, HasSubstr("good: 1 learnt"));
  EXPECT_THAT(Run({"learn", "--status"}).out, HasSubstr("spam 2\ngood 1\n"));
  EXPECT_EQ(Run({"learn", "x"}).status, 2);
  EXPECT_EQ(Run({"learn", "--spam", (home_ / "missing").string()}).status, 1);
  EXPECT_EQ(Run({"learn", "--clear"}).status, 0);
  EXPECT_THAT(Run({"learn", "--status"}).out, HasSubstr("spam 0\ngood 0\n"));
}

}  // namespace
}  // namespace pelorix
