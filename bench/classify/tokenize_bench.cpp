// The learning judge's share of a header check: tokenizing a parsed header
// and scoring it against a store of 2,000 learnt messages.

#include <benchmark/benchmark.h>

#include "classify/classifier.h"
#include "common/bench_mailbox.h"
#include "engine/learning.h"
#include "mime/mail_message.h"

namespace pelorix {
namespace {

std::vector<TMailMessage> Headers(int count) {
  std::vector<TMailMessage> out(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    ParseMessageText(BenchMessage(i + 1), out[static_cast<std::size_t>(i)], false);
  return out;
}

void Tokenize(benchmark::State& state) {
  const auto messages = Headers(1000);
  std::size_t tokens = 0;
  for (auto _ : state) {
    for (const auto& m : messages)
      tokens += MessageTokens(m, nullptr, "→(中国@北京)→(中国@上海)").size();
  }
  state.SetItemsProcessed(state.iterations() * 1000);
  state.counters["tokens_per_msg"] = double(tokens) / double(state.iterations() * 1000);
}
BENCHMARK(Tokenize)->Unit(benchmark::kMicrosecond);

void Score(benchmark::State& state) {
  const auto messages = Headers(2000);
  TTokenSnapshot snap;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    for (auto h : TokenHashes(MessageTokens(messages[i], nullptr, "")))
      (i % 10 == 0 ? snap.Tokens[h].Spam : snap.Tokens[h].Good) += 1;
  }
  snap.SpamMessages = 200;
  snap.GoodMessages = 1800;
  const TClassifier judge(std::move(snap), {}, {});
  std::vector<std::vector<std::string>> tokens;
  for (std::size_t i = 0; i < 1000; ++i)
    tokens.push_back(MessageTokens(messages[i], nullptr, ""));
  for (auto _ : state) {
    for (const auto& t : tokens)
      benchmark::DoNotOptimize(judge.Classify(t, "a@b"));
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(Score)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace pelorix

BENCHMARK_MAIN();
