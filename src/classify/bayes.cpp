#include "classify/bayes.h"

#include <algorithm>
#include <cmath>

namespace pelorix {

double TokenProbability(TTokenCounts c, std::uint64_t spamMessages, std::uint64_t goodMessages,
                        const TScoringParams& p) {
  const double spamRatio = spamMessages ? std::min(1.0, double(c.Spam) / double(spamMessages)) : 0;
  const double goodRatio = goodMessages ? std::min(1.0, double(c.Good) / double(goodMessages)) : 0;
  const double n = double(c.Spam) + double(c.Good);
  if (spamRatio + goodRatio == 0)
    return p.UnknownProbability;
  const double raw = spamRatio / (spamRatio + goodRatio);
  return (p.Strength * p.UnknownProbability + n * raw) / (p.Strength + n);
}

double Chi2Q(double x2, int v) {
  const double m = x2 / 2.0;
  double term = std::exp(-m);
  double sum = term;
  for (int i = 1; i < v / 2; ++i) {
    term *= m / i;
    sum += term;
  }
  return std::min(sum, 1.0);
}

double CombineProbabilities(const std::vector<double>& probabilities) {
  if (probabilities.empty())
    return 0.5;
  // Products kept as mantissa and exponent: a few hundred clues underflow a double.
  double s = 1.0, h = 1.0;
  int sExp = 0, hExp = 0;
  for (double prob : probabilities) {
    prob = std::clamp(prob, 1e-6, 1 - 1e-6);
    int e = 0;
    s = std::frexp(s * (1.0 - prob), &e);
    sExp += e;
    h = std::frexp(h * prob, &e);
    hExp += e;
  }
  const double lnS = std::log(s) + sExp * std::log(2.0);
  const double lnH = std::log(h) + hExp * std::log(2.0);
  const int v = 2 * static_cast<int>(probabilities.size());
  const double spam = 1.0 - Chi2Q(-2.0 * lnS, v);
  const double good = 1.0 - Chi2Q(-2.0 * lnH, v);
  return (spam - good + 1.0) / 2.0;
}

TScore ScoreTokens(const std::vector<std::string>& tokens, const TTokenLookup& lookup,
                   std::uint64_t spamMessages, std::uint64_t goodMessages,
                   const TScoringParams& params) {
  TScore score;
  struct TUsed {
    double Deviation;
    double Probability;
    const std::string* Token;
  };
  std::vector<TUsed> used;
  used.reserve(tokens.size());
  for (const auto& t : tokens) {
    const TTokenCounts c = lookup(t);
    if (c.Spam == 0 && c.Good == 0)
      continue;
    const double prob = TokenProbability(c, spamMessages, goodMessages, params);
    const double dev = std::fabs(prob - 0.5);
    if (dev >= params.MinDeviation)
      used.push_back({dev, prob, &t});
  }
  // Strongest first; equal strength by token text, so a score never
  // depends on the order the tokens came in.
  std::sort(used.begin(), used.end(), [](const TUsed& a, const TUsed& b) {
    return a.Deviation != b.Deviation ? a.Deviation > b.Deviation : *a.Token < *b.Token;
  });
  if (used.size() > params.MaxClues)
    used.resize(params.MaxClues);
  std::vector<double> probs;
  probs.reserve(used.size());
  for (const auto& u : used) {
    probs.push_back(u.Probability);
    score.Clues.push_back({*u.Token, u.Probability});
  }
  score.Probability = CombineProbabilities(probs);
  return score;
}

std::uint64_t TokenHash(std::string_view token) {
  std::uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : token) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  // SQLite keys are signed; the top bit is dropped so every key is positive.
  return h & 0x7FFFFFFFFFFFFFFFULL;
}

}  // namespace pelorix
