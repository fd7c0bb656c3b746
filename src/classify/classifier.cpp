#include "classify/classifier.h"

#include <cmath>
#include <cstdio>

#include "mime/header_util.h"
#include "mime/line_source.h"
#include "mime/mail_message.h"

namespace pelorix {

std::uint64_t MessageIdentity(const TMailMessage& m) {
  if (!m.MessageId.empty())
    return TokenHash("id\n" + m.MessageId + "\n" + AsciiLower(m.From.Address) + "\n" + m.Subject);
  std::string all = "headers\n";
  for (const auto& line : m.Headers.Lines) {
    all += line;
    all += '\n';
  }
  return TokenHash(all);
}

std::vector<std::uint64_t> TokenHashes(const std::vector<std::string>& tokens) {
  std::vector<std::uint64_t> hashes;
  hashes.reserve(tokens.size());
  for (const auto& t : tokens)
    hashes.push_back(TokenHash(t));
  return hashes;
}

std::vector<std::string> BodyLinesForMode(const std::vector<std::string>& bodyLines, int mode) {
  if (mode < 0)
    return bodyLines;
  const auto n = std::min(bodyLines.size(), static_cast<std::size_t>(mode));
  return std::vector<std::string>(bodyLines.begin(), bodyLines.begin() + static_cast<long>(n));
}

std::string CluesText(const std::vector<TClue>& clues, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < clues.size() && i < count; ++i) {
    if (i)
      text += ", ";
    char prob[16];
    std::snprintf(prob, sizeof prob, " %.2f", clues[i].Probability);
    text += clues[i].Token + prob;
  }
  return text;
}

void ParseMessageText(std::string_view text, TMailMessage& message, bool withBody) {
  message.Clear();
  TCopyLines lines(text);
  try {
    const std::string end = message.ReadHeader(lines, "");
    if (withBody && end != ".")
      message.ReadBody(lines);
  } catch (const std::exception&) {
    // What was read is judged; a broken part costs only its own lines.
  }
}

TClassifier::TClassifier(TTokenSnapshot snapshot, std::vector<std::string> friends, TCuts cuts)
    : snap_(std::move(snapshot)), friends_(friends.begin(), friends.end()), cuts_(cuts) {}

std::shared_ptr<const TClassifier> TClassifier::Load(const std::filesystem::path& home,
                                                     TCuts cuts) {
  std::error_code ec;
  const auto file = TTokenStore::PathIn(home);
  if (!std::filesystem::exists(file, ec))
    return std::make_shared<TClassifier>(TTokenSnapshot{}, std::vector<std::string>{}, cuts);
  auto store = TTokenStore::Open(file);
  if (!store)
    return std::make_shared<TClassifier>(TTokenSnapshot{}, std::vector<std::string>{}, cuts);
  return std::make_shared<TClassifier>(store->Snapshot(), store->Friends(), cuts);
}

bool TClassifier::Ready() const {
  return snap_.SpamMessages >= kMinLearnt && snap_.GoodMessages >= kMinLearnt;
}

bool TClassifier::IsFriend(std::string_view address) const {
  return !friends_.empty() && friends_.count(AsciiLower(address)) > 0;
}

TScore TClassifier::Score(const std::vector<std::string>& tokens) const {
  return ScoreTokens(
      tokens, [this](const std::string& t) { return snap_.Find(TokenHash(t)); }, snap_.SpamMessages,
      snap_.GoodMessages);
}

TClassification TClassifier::Classify(const std::vector<std::string>& tokens,
                                      std::string_view senderAddress) const {
  TClassification c;
  if (!Ready())
    return c;
  TScore s = Score(tokens);
  c.Score = static_cast<int>(std::lround(s.Probability * 100));
  c.Clues = std::move(s.Clues);
  c.Friend = IsFriend(senderAddress);
  if (c.Friend)
    c.Judgement = TJudgement::Good;
  else if (c.Score >= cuts_.SpamCut)
    c.Judgement = TJudgement::Spam;
  else if (c.Score >= cuts_.UnsureCut)
    c.Judgement = TJudgement::Unsure;
  else
    c.Judgement = TJudgement::Good;
  return c;
}

std::string JudgeStatusText(std::uint64_t spam, std::uint64_t good) {
  std::string text = "自动判断：已学习垃圾邮件 " + std::to_string(spam) + " 封、正常邮件 " +
                     std::to_string(good) + " 封";
  if (spam < kMinLearnt || good < kMinLearnt)
    text += "，各学满 " + std::to_string(kMinLearnt) + " 封后开始判断";
  return text;
}

}  // namespace pelorix
