#pragma once
// Accelerometer streams made to order for the detector's tests: a machine at rest (gravity along
// y, a little noise), knocks as half-sine pulses along z, and whatever else a case adds; each
// sample is the average over its period, as a chip's decimation filter gives it.

#include "norvo/detect/sample.hpp"

#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

namespace norvo::test {

struct Knock {
    double at = 0;    // s
    double peak = 3;  // m/s²
    double width = 0.012;
};

struct Axes {
    double x = 0;
    double y = 0;
    double z = 0;
};

// The mean of a knock's pulse over [from, to].
inline double pulse_mean(const Knock& k, double from, double to) {
    const double a = std::max(from, k.at);
    const double b = std::min(to, k.at + k.width);
    if (b <= a)
        return 0;
    const double w = k.width / std::numbers::pi;
    return k.peak * w * (std::cos((a - k.at) / w) - std::cos((b - k.at) / w)) / (to - from);
}

// `extra` is sampled at each sample's time (slow things: tilts, lifts, vibration at a rate
// the sampling follows).
inline std::vector<detect::AccelSample> stream(double rate, double seconds,
                                               const std::vector<Knock>& knocks,
                                               const std::function<Axes(double)>& extra = {}) {
    std::vector<detect::AccelSample> samples;
    const double period = 1 / rate;
    for (long n = 1; n * period <= seconds; ++n) {
        const double t = static_cast<double>(n) * period;
        detect::AccelSample s;
        s.time = detect::Timestamp(std::llround(t * 1e9));
        // A fixed pseudo-random noise of about 0.01 m/s².
        s.x = 0.01 * std::sin(12.9898 * static_cast<double>(n));
        s.y = 9.81 + 0.01 * std::sin(78.233 * static_cast<double>(n));
        s.z = 0.01 * std::sin(37.719 * static_cast<double>(n));
        for (const auto& k : knocks) s.z += pulse_mean(k, t - period, t);
        if (extra) {
            const Axes e = extra(t);
            s.x += e.x;
            s.y += e.y;
            s.z += e.z;
        }
        samples.push_back(s);
    }
    return samples;
}

inline double seconds(detect::Timestamp t) {
    return std::chrono::duration<double>(t).count();
}

}  // namespace norvo::test
