// The tap detector's CPU time per minute of 400 Hz samples (taps among typing: every stage of
// the detector is busy).

#include <benchmark/benchmark.h>

#include "generator.hpp"

#include "norvo/detect/tap_detector.hpp"

namespace {

void BM_DetectorMinuteAt400Hz(benchmark::State& state) {
    norvo::tapgen::TraceRecipe recipe;
    recipe.kind = norvo::tapgen::Kind::taps_typing;
    recipe.rate_hz = 400;
    recipe.seconds = 60;
    const auto trace = norvo::tapgen::generate(recipe);
    std::size_t taps = 0;
    for (auto _ : state) {
        norvo::detect::TapDetector detector;
        for (const auto& sample : trace.samples) {
            if (detector.push(sample))
                ++taps;
        }
        benchmark::DoNotOptimize(taps);
    }
    state.counters["samples"] = static_cast<double>(trace.samples.size());
}
BENCHMARK(BM_DetectorMinuteAt400Hz)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
