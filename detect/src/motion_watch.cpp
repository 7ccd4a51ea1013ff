#include "motion_watch.hpp"

#include <algorithm>

namespace norvo::detect {

namespace {

constexpr Timestamp kMedianWindow = std::chrono::milliseconds(100);
// The steady acceleration changes slowly: taken this often, not for every sample, it costs a
// 400 Hz stream an eighth.
constexpr Timestamp kSteadyEvery = std::chrono::milliseconds(20);

}  // namespace

void MotionWatch::restart(Timestamp time, const Vec3& acceleration) {
    window_.assign(1, {time, acceleration});
    steady_history_.assign(1, {time, acceleration});
    steady_ = acceleration;
    next_steady_ = time + kSteadyEvery;
}

void MotionWatch::update(Timestamp time, const Vec3& acceleration) {
    window_.push_back({time, acceleration});
    while (window_.front().time <= time - kMedianWindow) window_.pop_front();
    if (time < next_steady_)
        return;
    next_steady_ = time + kSteadyEvery;
    steady_ = median();
    steady_history_.push_back({time, steady_});
    while (steady_history_.front().time < time - span_) steady_history_.pop_front();
}

double MotionWatch::range_since(Timestamp from) const {
    Vec3 low = steady_;
    Vec3 high = steady_;
    for (auto it = steady_history_.rbegin(); it != steady_history_.rend() && it->time >= from;
         ++it) {
        const Vec3& v = it->acceleration;
        low = {std::min(low.x, v.x), std::min(low.y, v.y), std::min(low.z, v.z)};
        high = {std::max(high.x, v.x), std::max(high.y, v.y), std::max(high.z, v.z)};
    }
    return length(high - low);
}

Vec3 MotionWatch::median() {
    auto axis = [this](double Vec3::* member) {
        scratch_.clear();
        for (const auto& entry : window_) scratch_.push_back(entry.acceleration.*member);
        const auto middle = scratch_.begin() + static_cast<std::ptrdiff_t>(scratch_.size() / 2);
        std::nth_element(scratch_.begin(), middle, scratch_.end());
        return *middle;
    };
    return {axis(&Vec3::x), axis(&Vec3::y), axis(&Vec3::z)};
}

}  // namespace norvo::detect
