#pragma once
// How well the detector does on generated traces: recall, false positives and onset error, per
// rate, per kind of activity and per hub condition, and the goals they are held to.

#include "generator.hpp"

#include "norvo/detect/tap_detector.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace norvo::tapgen {

inline constexpr double kRates[] = {50, 100, 200, 400};

struct Score {
    std::size_t taps = 0;  // of at least 1 m/s²
    std::size_t found = 0;
    std::size_t weak_taps = 0;  // 0.8 to 1 m/s²
    std::size_t weak_found = 0;
    std::size_t false_positives = 0;
    double seconds = 0;
    std::vector<double> onset_errors;  // found minus true, seconds

    void add(const Score& other);
    std::optional<double> recall() const;
    std::optional<double> weak_recall() const;
    double false_positives_per_10_min() const;
    std::optional<double> median_onset_error() const;  // of its size
    std::optional<double> median_onset_bias() const;
};

// A tap found within 50 ms of a true one is that one; every other is a false positive.
Score score(const std::vector<detect::Tap>& found, const std::vector<detect::TapLabel>& truth,
            double seconds);

struct Measurement {
    double minutes = 0;  // of each kind at each rate
    std::uint64_t seed = 0;
    detect::TapParameters parameters;
    std::map<std::tuple<double, Kind, Condition>, Score> cells;

    Score total(double rate, std::optional<Kind> kind, std::optional<Condition> condition) const;
};

// Traces of 30 s, the hub's conditions in turn, `minutes` of each kind at each rate.
Measurement measure(double minutes, std::uint64_t seed, const detect::TapParameters& parameters);

// The tables of docs/sensor-device.md.
std::string report(const Measurement& measurement);

// At 100 Hz and above: recall >= 95 % at rest and while typing, at most 1 false positive per
// 10 minutes of each kind (one is allowed in a shorter set), median onset error <= 10 ms. What
// is missed, one line each.
std::vector<std::string> unmet_goals(const Measurement& measurement);

}  // namespace norvo::tapgen
