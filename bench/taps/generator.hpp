#pragma once
// Labelled accelerometer traces from a seed: an activity (activities.hpp) seen through a sensor
// and hub (sensor.hpp) in one of the conditions that hubs show.

#include "activities.hpp"
#include "sensor.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvo::tapgen {

enum class Condition { clean, repeats, drops, jitter, coarse, all };

inline constexpr Condition kConditions[] = {Condition::clean,  Condition::repeats, Condition::drops,
                                            Condition::jitter, Condition::coarse,  Condition::all};

std::string_view condition_name(Condition condition);

struct TraceRecipe {
    Kind kind = Kind::taps_rest;
    double rate_hz = 100;
    double seconds = 60;
    Condition condition = Condition::clean;
    std::uint64_t seed = 1;
};

struct GeneratedTrace {
    std::vector<detect::AccelSample> samples;
    std::vector<detect::TapLabel> taps;
    Hub hub;
};

GeneratedTrace generate(const TraceRecipe& recipe);

// The trace file: comments that say how it was made, the true taps, the samples.
std::string trace_text(const TraceRecipe& recipe, const GeneratedTrace& trace);

}  // namespace norvo::tapgen
