#include "noise_floor.hpp"

#include <algorithm>

namespace norvo::detect {

namespace {

constexpr Timestamp kWindow = std::chrono::seconds(2);
// At most one magnitude per 10 ms is kept, and the median is recomputed every 100 ms: it moves
// slowly, and a fast stream would otherwise pay for a sort of all of its last two seconds.
constexpr Timestamp kKeepEvery = std::chrono::milliseconds(10);
constexpr Timestamp kRefreshEvery = std::chrono::milliseconds(100);

}  // namespace

void NoiseFloor::add(Timestamp time, double magnitude) {
    if (!window_.empty() && time < window_.back().time + kKeepEvery)
        return;
    window_.push_back({time, magnitude});
    while (window_.front().time < time - kWindow) window_.pop_front();
    if (window_.size() == 1 || time >= next_refresh_) {
        refresh();
        next_refresh_ = time + kRefreshEvery;
    }
}

void NoiseFloor::clear() {
    window_.clear();
    median_ = 0;
}

void NoiseFloor::refresh() {
    scratch_.clear();
    for (const auto& entry : window_) scratch_.push_back(entry.magnitude);
    const auto middle = scratch_.begin() + static_cast<std::ptrdiff_t>(scratch_.size() / 2);
    std::nth_element(scratch_.begin(), middle, scratch_.end());
    median_ = *middle;
}

}  // namespace norvo::detect
