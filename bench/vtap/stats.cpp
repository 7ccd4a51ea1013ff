#include "stats.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace norvo::bench {
namespace {

double nearest_rank(const std::vector<double>& sorted, double p) {
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

}  // namespace

Percentiles percentiles(std::span<const double> samples) {
    if (samples.empty())
        return {};
    std::vector<double> sorted(samples.begin(), samples.end());
    std::sort(sorted.begin(), sorted.end());
    return {nearest_rank(sorted, 0.50), nearest_rank(sorted, 0.99)};
}

}  // namespace norvo::bench
