// Sensor loop throughput in process: confirmed tap pairs per second, on the real clock.

#include <benchmark/benchmark.h>

#include "loop_pairs.hpp"
#include "norvo/log.hpp"

namespace {

void BM_ConfirmedPairs(benchmark::State& state) {
    norvo::log::set_sink(nullptr);
    norvo::bench::LoopPairs loop;
    for (auto _ : state) loop.confirm_one();
    state.counters["pairs_per_second"] =
        benchmark::Counter(static_cast<double>(loop.confirmed()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConfirmedPairs)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
