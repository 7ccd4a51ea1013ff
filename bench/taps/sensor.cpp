#include "sensor.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

namespace norvo::tapgen {

namespace {

// The scene is followed in steps of at most a millisecond: a tap's pulse of 8 ms or more spans
// eight of them.
constexpr double kLongestStep = 0.001;
// A hub never hands out two samples with the same time.
constexpr double kLeastSpacing = 0.00005;

detect::Timestamp nanoseconds(double seconds) {
    return detect::Timestamp(std::llround(seconds * 1e9));
}

double quantised(double value, double step) {
    return std::round(value / step) * step;
}

}  // namespace

std::vector<detect::AccelSample> record(Scene& scene, const Hub& hub, double seconds, Rng& rng) {
    const double period = 1 / hub.rate_hz;
    const auto steps = static_cast<int>(std::ceil(period / kLongestStep));
    std::vector<detect::AccelSample> samples;
    std::optional<detect::AccelSample> last;
    Vec3 sum;
    int summed = 0;
    for (long n = 1; static_cast<double>(n) * period <= seconds; ++n) {
        const double due = static_cast<double>(n) * period;
        for (int j = steps - 1; j >= 0; --j) sum = sum + scene.reading(due - j * period / steps);
        summed += steps;
        // A repeat: the chip has not finished its next value, which then averages over both
        // periods. A drop: the value is lost on its way.
        const bool repeated = last && rng.chance(hub.repeat);
        const Vec3 average = (1.0 / summed) * sum;
        if (!repeated) {
            sum = {};
            summed = 0;
        }
        if (rng.chance(hub.drop))
            continue;
        detect::AccelSample sample;
        if (repeated) {
            sample = *last;
        } else {
            sample.x = quantised(average.x + hub.noise * rng.normal(), hub.resolution);
            sample.y = quantised(average.y + hub.noise * rng.normal(), hub.resolution);
            sample.z = quantised(average.z + hub.noise * rng.normal(), hub.resolution);
        }
        double stamp = due + hub.jitter * rng.normal();
        if (last)
            stamp =
                std::max(stamp, std::chrono::duration<double>(last->time).count() + kLeastSpacing);
        sample.time = nanoseconds(stamp);
        samples.push_back(sample);
        last = sample;
    }
    return samples;
}

}  // namespace norvo::tapgen
