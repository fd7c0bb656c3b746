#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "classify/classifier.h"
#include "mime/mail_message.h"
#include "text/ansi.h"

namespace pelorix {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::IsSupersetOf;
using ::testing::Not;

TEST(Combining, MatchesHandComputedValues) {
  // Two degrees of freedom: e^(-x/2); four: e^(-m)(1 + m).
  EXPECT_NEAR(Chi2Q(3.0, 2), std::exp(-1.5), 1e-12);
  EXPECT_NEAR(Chi2Q(3.0, 4), std::exp(-1.5) * 2.5, 1e-12);
  EXPECT_DOUBLE_EQ(Chi2Q(0.0, 6), 1.0);
  // One clue of 0.9: S = 1 - 0.1, H = 1 - 0.9, (1 + S - H) / 2 = 0.9.
  EXPECT_NEAR(CombineProbabilities({0.9}), 0.9, 1e-9);
  // Opposite clues of equal strength cancel; none says nothing.
  EXPECT_NEAR(CombineProbabilities({0.99, 0.01}), 0.5, 1e-9);
  EXPECT_DOUBLE_EQ(CombineProbabilities({}), 0.5);
  // Hundreds of strong clues neither underflow nor leave [0, 1].
  EXPECT_GT(CombineProbabilities(std::vector<double>(400, 0.99)), 0.999);
  EXPECT_LT(CombineProbabilities(std::vector<double>(400, 0.01)), 0.001);
  // Robinson: 3 of 10 spam, 0 of 10 good, s = 0.45, x = 0.5:
  // (0.45 * 0.5 + 3 * 1) / (0.45 + 3).
  EXPECT_NEAR(TokenProbability({3, 0}, 10, 10), 3.225 / 3.45, 1e-12);
  // Ratios, not counts: 1 of 10 spam against 10 of 100 good is even.
  EXPECT_NEAR(TokenProbability({1, 10}, 10, 100), 0.5, 1e-12);
  EXPECT_DOUBLE_EQ(TokenProbability({0, 0}, 10, 10), 0.5);
}

TEST(Combining, UsesOnlyStrongTokensStrongestFirst) {
  const std::map<std::string, TTokenCounts> counts = {
      {"strong", {9, 0}}, {"weak", {5, 5}}, {"good", {0, 4}}};
  const TScore s = ScoreTokens(
      {"weak", "good", "unknown", "strong"},
      [&](const std::string& t) {
        auto it = counts.find(t);
        return it == counts.end() ? TTokenCounts{} : it->second;
      },
      10, 10);
  ASSERT_EQ(s.Clues.size(), 2u);
  EXPECT_EQ(s.Clues[0].Token, "strong");
  EXPECT_EQ(s.Clues[1].Token, "good");
  EXPECT_NEAR(
      s.Probability,
      CombineProbabilities({TokenProbability({9, 0}, 10, 10), TokenProbability({0, 4}, 10, 10)}),
      1e-12);
}

// A subject as an encoded word in `charset`, Q-encoded byte by byte.
std::string EncodedSubject(const std::string& utf8, const std::string& charset) {
  std::string bytes;
  EXPECT_TRUE(Utf8ToCharset(utf8, charset, bytes)) << charset;
  std::string q = "=?" + charset + "?Q?";
  char hex[4];
  for (unsigned char c : bytes) {
    std::snprintf(hex, sizeof hex, "=%02X", c);
    q += hex;
  }
  return q + "?=";
}

std::vector<std::string> TokensOf(const std::string& text, const TTokenizeOptions& options = {}) {
  TMailMessage m;
  ParseMessageText(text, m, true);
  return TokenizeMessage(m, options);
}

TEST(Tokenizer, ChineseSubjectsBecomeBigramsInEveryCharset) {
  // 发票 in GB2312, 镕 only in GBK, 發票 (traditional) in Big5.
  for (auto [charset, subject, bigrams] :
       {std::tuple{"gb2312", "代开发票", std::vector<std::string>{"s:代开", "s:开发", "s:发票"}},
        std::tuple{"gbk", "朱镕基说", std::vector<std::string>{"s:朱镕", "s:镕基", "s:基说"}},
        std::tuple{"big5", "代開發票", std::vector<std::string>{"s:代開", "s:開發", "s:發票"}}}) {
    const auto tokens =
        TokensOf("From: a@b.cn\r\nSubject: " + EncodedSubject(subject, charset) + " OK\r\n\r\n");
    EXPECT_THAT(tokens, IsSupersetOf(bigrams)) << charset;
    EXPECT_THAT(tokens, Contains("s:ok")) << charset;
    EXPECT_THAT(tokens, Contains("s#enc:" + std::string(charset) + ":q")) << charset;
  }
  // A lone character stands as itself; punctuation ends a run.
  EXPECT_THAT(TokensOf("Subject: =?utf-8?Q?=E5=85=8D=EF=BC=8C=E8=B4=B9=E7=94=A8?=\r\n\r\n"),
              IsSupersetOf({"s:免", "s:费用"}));
}

TEST(Tokenizer, HeaderShapesAddressesAndRelays) {
  const auto tokens = TokensOf(
      "Received: from helo.example.net (mx.Relay.example.net [203.0.113.9])\r\n"
      "\tby mail.home.org with ESMTP; Mon, 2 Dec 2002 10:00:00 +0000\r\n"
      "From: \"Deals\" <Sales777@Shop.Example.BIZ>\r\n"
      "Reply-To: other@else.com\r\n"
      "Message-ID: <20021202.ABC123@shop.example.biz>\r\n"
      "Date: Mon, 9 Dec 2002 10:00:00 +0800\r\n"
      "X-Mailer: Bulk Sender 5.1\r\n"
      "Content-Type: text/html; charset=\"GB2312\"\r\n"
      "Subject: FREE MONEY NOW!!!\r\n\r\n",
      TTokenizeOptions{nullptr, {"(美国@加州)"}});
  EXPECT_THAT(tokens, IsSupersetOf({"f:sales777@shop.example.biz",
                                    "fd:example.biz",
                                    "fd:biz",
                                    "f#lpdigits",
                                    "rt#otherdomain",
                                    "r:ip:203.0.113.9",
                                    "r:ip24:203.0.113",
                                    "r:ip16:203.0",
                                    "r:helo:example.net",
                                    "r:rdns:example.net",
                                    "r#hops1",
                                    "mid:d:example.biz",
                                    "xmw:bulk",
                                    "ct:text/html",
                                    "cs:gb2312",
                                    "tz:+0800",
                                    "date#future",
                                    "s:free",
                                    "s#caps",
                                    "s#bang3",
                                    "hn!:to",
                                    "loco:美国@加州",
                                    "loca:美国"}));
  EXPECT_TRUE(std::is_sorted(tokens.begin(), tokens.end()));
  EXPECT_EQ(std::adjacent_find(tokens.begin(), tokens.end()), tokens.end());
  // Body words only when the body is read.
  const std::vector<std::string> body = {"Click here to claim"};
  const std::string text = "Subject: x\r\n\r\nClick here to claim\r\n";
  EXPECT_THAT(TokensOf(text), Not(Contains("claim")));
  EXPECT_THAT(TokensOf(text, TTokenizeOptions{&body, {}}), IsSupersetOf({"click", "claim"}));
}

TEST(Tokenizer, HostileHeadersGiveShortValidTokens) {
  const std::string huge(5000, 'x');
  const auto tokens = TokensOf("From: " + huge + "@" + huge +
                               ".com\r\nX-\xE7\xFF\x80: v\r\n"
                               "Received: from " +
                               huge + " ([1.2.3.4]) by " + huge +
                               "\r\n"
                               "Message-ID: <a@" +
                               huge + ">\r\n\r\n");
  ASSERT_FALSE(tokens.empty());
  for (const auto& t : tokens) {
    EXPECT_LE(t.size(), 96u);
    EXPECT_TRUE(IsValidUtf8(t)) << t;
  }
}

class Store : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "pelorix-learn-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
    store_ = TTokenStore::Open(TTokenStore::PathIn(dir_));
    ASSERT_TRUE(store_);
  }
  void TearDown() override {
    store_.reset();
    fs::remove_all(dir_);
  }
  static std::map<std::uint64_t, std::pair<std::uint32_t, std::uint32_t>> Counts(TTokenStore& s) {
    std::map<std::uint64_t, std::pair<std::uint32_t, std::uint32_t>> out;
    for (const auto& [h, c] : s.Snapshot().Tokens)
      out[h] = {c.Spam, c.Good};
    return out;
  }
  fs::path dir_;
  std::unique_ptr<TTokenStore> store_;
};

TEST_F(Store, LearningTwiceCountsOnceAndUnlearningRestoresExactly) {
  const std::vector<std::uint64_t> a = {1, 2, 3}, b = {3, 4};
  store_->Learn(100, TLearnClass::Good, 0, a);
  const auto before = Counts(*store_);
  EXPECT_EQ(store_->Learn(200, TLearnClass::Spam, 0, b), TLearnOutcome::Learnt);
  EXPECT_EQ(store_->Learn(200, TLearnClass::Spam, 0, b), TLearnOutcome::Already);
  EXPECT_EQ(store_->SpamMessages(), 1u);
  EXPECT_EQ(Counts(*store_)[3], (std::pair<std::uint32_t, std::uint32_t>{1, 1}));
  // A correction moves the message over.
  EXPECT_EQ(store_->Learn(200, TLearnClass::Good, 0, b), TLearnOutcome::Moved);
  EXPECT_EQ(store_->SpamMessages(), 0u);
  EXPECT_EQ(store_->GoodMessages(), 2u);
  EXPECT_EQ(Counts(*store_)[4], (std::pair<std::uint32_t, std::uint32_t>{0, 1}));
  EXPECT_TRUE(store_->Unlearn(200, b));
  EXPECT_FALSE(store_->Unlearn(200, b));
  EXPECT_EQ(Counts(*store_), before);
  EXPECT_EQ(store_->GoodMessages(), 1u);
  EXPECT_FALSE(store_->Learnt(200).has_value());
  // A batch that is rolled back leaves nothing.
  store_->Begin();
  store_->Learn(300, TLearnClass::Spam, 0, {9});
  store_->Rollback();
  EXPECT_EQ(Counts(*store_), before);
}

TEST_F(Store, MessagesLeftAloneAreLearntGoodOnceGone) {
  store_->AddPending({"u[h]", "<kept>", 1, 0, {10}});
  store_->AddPending({"u[h]", "<taken>", 2, 0, {11, 12}});
  store_->AddPending({"u[h]", "<marked>", 3, 0, {13}});
  store_->AddPending({"v[h]", "<other account>", 4, 0, {14}});
  store_->Learn(3, TLearnClass::Spam, 0, {13});  // the user decided meanwhile
  EXPECT_EQ(store_->LearnGone("u[h]", {"<kept>"}), 1);
  EXPECT_EQ(store_->Learnt(2)->Class, TLearnClass::Good);
  EXPECT_EQ(store_->Learnt(3)->Class, TLearnClass::Spam);
  EXPECT_FALSE(store_->Learnt(1).has_value());
  EXPECT_EQ(store_->PendingCount(), 2u);
  EXPECT_EQ(store_->Snapshot().Find(12).Good, 1u);
}

TEST_F(Store, KillDuringLearningLeavesAConsistentStore) {
  constexpr std::uint64_t kShared = 1ULL << 40;  // in every message
  store_.reset();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto s = TTokenStore::Open(TTokenStore::PathIn(dir_));
    for (std::uint64_t batch = 0;; ++batch) {
      s->Begin();
      for (std::uint64_t i = 0; i < 200; ++i)
        s->Learn(batch * 1000 + i + 1, TLearnClass::Spam, 0, {batch + 1000, i, kShared});
      s->Commit();
    }
  }
  usleep(300 * 1000);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  store_ = TTokenStore::Open(TTokenStore::PathIn(dir_));
  ASSERT_TRUE(store_);
  // Every message learnt is counted, and every count has its messages.
  const TTokenSnapshot snap = store_->Snapshot();
  EXPECT_GT(snap.SpamMessages, 0u);
  EXPECT_EQ(snap.SpamMessages % 200, 0u);
  EXPECT_EQ(snap.Find(kShared).Spam, snap.SpamMessages);
  // And it goes on learning.
  EXPECT_EQ(store_->Learn(1u << 30, TLearnClass::Good, 0, {kShared}), TLearnOutcome::Learnt);
}

TEST_F(Store, JudgeIsSilentUntilBothClassesHaveEnough) {
  for (std::uint64_t i = 0; i < kMinLearnt; ++i)
    store_->Learn(i + 1, TLearnClass::Spam, 0, {1, 2});
  for (std::uint64_t i = 0; i + 1 < kMinLearnt; ++i)
    store_->Learn(1000 + i, TLearnClass::Good, 0, {3});
  const std::vector<std::string> spammy = {"x"};
  TClassifier silent(store_->Snapshot(), {}, {});
  EXPECT_FALSE(silent.Ready());
  EXPECT_EQ(silent.Classify(spammy, "a@b").Judgement, TJudgement::Silent);
  EXPECT_EQ(silent.Classify(spammy, "a@b").Score, -1);
  store_->Learn(5000, TLearnClass::Good, 0, {3});
  // A token seen only in spam, and a friend who sends it.
  const std::uint64_t x = TokenHash("x");
  for (std::uint64_t i = 0; i < 5; ++i)
    store_->Learn(6000 + i, TLearnClass::Spam, 0, {x});
  TClassifier ready(store_->Snapshot(), {"pal@home.org"}, {90, 30});
  EXPECT_TRUE(ready.Ready());
  const auto judged = ready.Classify(spammy, "a@b");
  EXPECT_EQ(judged.Judgement, TJudgement::Spam);
  EXPECT_GE(judged.Score, 90);
  EXPECT_EQ(judged.Clues.at(0).Token, "x");
  EXPECT_EQ(ready.Classify(spammy, "Pal@Home.org").Judgement, TJudgement::Good);
  EXPECT_THAT(JudgeStatusText(3, 40), ::testing::HasSubstr("20"));
}

}  // namespace
}  // namespace pelorix
