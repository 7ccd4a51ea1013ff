#include "norvo/linux/tap_delivery.hpp"

#include <algorithm>
#include <cmath>

namespace norvo::linux_platform {
namespace {

// The sensor's thread wakes and reads within this of its timer, on a machine that is not
// overloaded.
constexpr std::chrono::milliseconds kWakeUp{25};

}  // namespace

TapDelivery::TapDelivery(const detect::TapParameters& parameters, std::chrono::nanoseconds delay)
    : detector_(parameters), delay_(delay) {}

void TapDelivery::push(const detect::AccelSample& sample, std::chrono::nanoseconds to_monotonic) {
    auto tap = detector_.push(sample);
    if (!tap)
        return;
    tap->onset += to_monotonic;
    const Delivery delivery{*tap, tap->onset + delay_};
    const auto at = std::upper_bound(
        waiting_.begin(), waiting_.end(), delivery.due,
        [](detect::Timestamp due, const Delivery& waiting) { return due < waiting.due; });
    waiting_.insert(at, delivery);
}

std::optional<detect::Timestamp> TapDelivery::next_due() const {
    if (waiting_.empty())
        return std::nullopt;
    return waiting_.front().due;
}

std::vector<TapDelivery::Delivery> TapDelivery::take_due(detect::Timestamp now) {
    std::vector<Delivery> due;
    while (!waiting_.empty() && waiting_.front().due <= now) {
        due.push_back(waiting_.front());
        waiting_.pop_front();
    }
    return due;
}

std::chrono::nanoseconds delivery_delay(const detect::TapParameters& parameters, double rate_hz,
                                        std::chrono::nanoseconds read_period,
                                        std::chrono::nanoseconds batch) {
    const auto period = std::chrono::nanoseconds(std::llround(1e9 / rate_hz));
    const auto decided = parameters.max_width * 3 / 2 + parameters.quiet_after + 2 * period;
    const auto delay = decided + read_period + batch + kWakeUp;
    return std::chrono::ceil<std::chrono::milliseconds>(delay);
}

}  // namespace norvo::linux_platform
