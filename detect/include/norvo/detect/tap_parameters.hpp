#pragma once
// The tap detector's parameters. Their option names, units and ranges are in tap_options.hpp;
// docs/sensor-device.md says how they were chosen.

#include <chrono>

namespace norvo::detect {

struct TapParameters {
    // The least peak of the high-passed acceleration magnitude a tap must reach, in m/s².
    double threshold = 0.4;
    // The threshold also rises to this many times the noise floor (the median magnitude of the
    // last two seconds), so that steady vibration and busy surroundings do not pass as taps.
    double noise_factor = 5.0;
    // The longest impulse that counts as a tap, measured at half its peak.
    std::chrono::milliseconds max_width{25};
    // No other rise to half the peak this long before the impulse, nor this long after it.
    std::chrono::milliseconds quiet_before{100};
    std::chrono::milliseconds quiet_after{150};
    // After a tap, no other tap for this long (its rebound, or a double tap's second).
    std::chrono::milliseconds refractory{250};
    // The machine counts as moved while its steady acceleration (each axis's median over 100 ms)
    // ranges over this much, in m/s²; no tap is taken from motion_hold before its impulse until
    // it is decided, nor one after which the steady acceleration has not come back to within
    // half of this.
    double motion_threshold = 0.4;
    std::chrono::milliseconds motion_hold{1000};
};

}  // namespace norvo::detect
