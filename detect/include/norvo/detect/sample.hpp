#pragma once
// What an accelerometer delivers and what the tap detector makes of it.

#include <chrono>
#include <cstdint>

namespace norvo::detect {

// On the sample source's own clock (an IIO buffer's timestamps, or a trace file's times).
using Timestamp = std::chrono::nanoseconds;

// One reading, accelerations in m/s² along the device's axes, gravity included.
struct AccelSample {
    Timestamp time{};
    double x = 0;
    double y = 0;
    double z = 0;
};

struct Tap {
    // When the impulse began: where its rising edge crossed a quarter of its peak.
    Timestamp onset{};
    // The peak of the high-passed acceleration magnitude, in mm/s² (the tap report's first field).
    std::uint32_t strength = 0;

    bool operator==(const Tap&) const = default;
};

}  // namespace norvo::detect
