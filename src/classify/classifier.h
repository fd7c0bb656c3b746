#pragma once
// The learning judge as the rest of the program sees it: a score from 0
// (good) to 100 (spam) with the clues that decided it, learning and
// unlearning a message, and reading messages from files for that.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "classify/bayes.h"
#include "classify/token_store.h"
#include "classify/tokenizer.h"

namespace pelorix {

class TMailMessage;

// Learnt messages of each class needed before the judge says anything.
inline constexpr std::uint64_t kMinLearnt = 20;
// Tokens kept at the most; rarer, older ones go first.
inline constexpr std::size_t kMaxStoredTokens = 400000;

enum class TJudgement { Silent, Good, Unsure, Spam };

struct TCuts {
  int SpamCut = 95;    // a score at or above it is spam
  int UnsureCut = 50;  // at or above it, below SpamCut: unsure
};

struct TClassification {
  TJudgement Judgement = TJudgement::Silent;
  int Score = -1;  // 0..100, -1 while silent
  bool Friend = false;
  std::vector<TClue> Clues;  // strongest first
};

// What identifies a message across checks and copies: its Message-ID with
// the sender and subject, else all of its header lines.
std::uint64_t MessageIdentity(const TMailMessage& message);

// The hashes the store keeps for tokens.
std::vector<std::uint64_t> TokenHashes(const std::vector<std::string>& tokens);

// The body lines the judge reads of a message for a mode: none (0), all
// (-1) or the first K.
std::vector<std::string> BodyLinesForMode(const std::vector<std::string>& bodyLines, int mode);

// The three strongest clues as one line: "s:free 0.99, f:d:biz 0.97, ...".
std::string CluesText(const std::vector<TClue>& clues, std::size_t count = 3);

// Reads a whole message (header and, when asked, body) from its text.
void ParseMessageText(std::string_view text, TMailMessage& message, bool withBody);

// Everything a run needs to judge, read once: a snapshot of the counts and
// the friends. Safe to share between workers (read only).
class TClassifier {
 public:
  TClassifier() = default;
  TClassifier(TTokenSnapshot snapshot, std::vector<std::string> friends, TCuts cuts);

  // Loads from the home's store; a missing or unreadable store gives a
  // silent judge.
  static std::shared_ptr<const TClassifier> Load(const std::filesystem::path& home, TCuts cuts);

  bool Ready() const;
  std::uint64_t SpamMessages() const { return snap_.SpamMessages; }
  std::uint64_t GoodMessages() const { return snap_.GoodMessages; }
  const TCuts& Cuts() const { return cuts_; }

  TClassification Classify(const std::vector<std::string>& tokens,
                           std::string_view senderAddress) const;
  TScore Score(const std::vector<std::string>& tokens) const;
  bool IsFriend(std::string_view address) const;

 private:
  TTokenSnapshot snap_;
  std::unordered_set<std::string> friends_;
  TCuts cuts_;
};

// The status line's word on the judge: silent until both classes have
// enough, else the counts learnt.
std::string JudgeStatusText(std::uint64_t spam, std::uint64_t good);

}  // namespace pelorix
