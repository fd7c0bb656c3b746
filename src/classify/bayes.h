#pragma once
// Scoring a message's tokens by what was learnt: Robinson's per-token
// probability with a prior, and Fisher's chi-square combining of the
// strongest ones into one spam probability (0 good .. 1 spam).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pelorix {

struct TTokenCounts {
  std::uint32_t Spam = 0;
  std::uint32_t Good = 0;
};

struct TScoringParams {
  double Strength = 0.45;           // weight of the prior, in messages
  double UnknownProbability = 0.5;  // the prior
  double MinDeviation = 0.1;        // tokens nearer 0.5 are ignored
  std::size_t MaxClues = 150;
};

struct TClue {
  std::string Token;
  double Probability = 0.5;
};

struct TScore {
  double Probability = 0.5;
  std::vector<TClue> Clues;  // the tokens used, strongest first
};

// A token's spam probability from its counts and the number of spam and
// good messages learnt.
double TokenProbability(TTokenCounts counts, std::uint64_t spamMessages, std::uint64_t goodMessages,
                        const TScoringParams& params = {});

// The chance that a chi-square variable with `v` (even) degrees of freedom
// is at least `x2`.
double Chi2Q(double x2, int v);

// Fisher-Robinson combining of token probabilities: (1 + S - H) / 2, with
// S and H the chi-square evidence for spam and for good; 0.5 for none.
double CombineProbabilities(const std::vector<double>& probabilities);

// Looks up a token's counts (zero counts when unknown).
using TTokenLookup = std::function<TTokenCounts(const std::string& token)>;

TScore ScoreTokens(const std::vector<std::string>& tokens, const TTokenLookup& lookup,
                   std::uint64_t spamMessages, std::uint64_t goodMessages,
                   const TScoringParams& params = {});

// A token's key in the store: 64-bit FNV-1a.
std::uint64_t TokenHash(std::string_view token);

}  // namespace pelorix
