#pragma once
// Percentiles of timing samples.

#include <span>

namespace norvo::bench {

struct Percentiles {
    double p50 = 0;
    double p99 = 0;
};

// Nearest rank: the smallest sample with at least p of all samples at or below it.
// Zeros for no samples.
Percentiles percentiles(std::span<const double> samples);

}  // namespace norvo::bench
