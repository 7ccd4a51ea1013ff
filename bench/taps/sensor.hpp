#pragma once
// The accelerometer and the hub in front of it: the chip averages each sample period (its
// decimation filter, -3 dB near 0.44 times the rate), adds its noise and rounds to its
// resolution; the hub repeats a sample while it has no fresh value, loses samples, and stamps
// them late or early.

#include "rng.hpp"
#include "scene.hpp"

#include "norvo/detect/sample.hpp"

#include <vector>

namespace norvo::tapgen {

struct Hub {
    double rate_hz = 100;
    double noise = 0.02;         // m/s² rms per axis
    double resolution = 0.0024;  // m/s² per step
    double repeat = 0;           // share of samples that repeat the one before
    double drop = 0;             // share of samples lost
    double jitter = 0;           // timestamps' error, seconds rms
};

// `seconds` of samples from time 0 on.
std::vector<detect::AccelSample> record(Scene& scene, const Hub& hub, double seconds, Rng& rng);

}  // namespace norvo::tapgen
