// Reading the delivered IP location table whole, as the settings window's
// list does when no table of the user's own is in force.
#include <benchmark/benchmark.h>

#include "store/ip_table.h"

namespace {

void BM_ReadDeliveredTable(benchmark::State& state) {
  std::size_t rows = 0;
  for (auto _ : state) {
    auto table = pelorix::ReadIpTableFile(PELORIX_BENCH_IP_TABLE);
    if (!table) {
      state.SkipWithError("the delivered table cannot be read");
      return;
    }
    rows = table->size();
    benchmark::DoNotOptimize(table->data());
  }
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_ReadDeliveredTable)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
