#pragma once
// What is done with the laptop in a trace: taps (at rest, or while typing) and the activities
// that must not pass as taps. The figures behind each are in docs/sensor-device.md.

#include "rng.hpp"
#include "scene.hpp"

#include "norvo/detect/trace.hpp"

#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace norvo::tapgen {

enum class Kind { taps_rest, taps_typing, typing, clicks, lift, walk, vibration, lid };

inline constexpr Kind kKinds[] = {Kind::taps_rest, Kind::taps_typing, Kind::typing,    Kind::clicks,
                                  Kind::lift,      Kind::walk,        Kind::vibration, Kind::lid};

std::string_view kind_name(Kind kind);
bool has_taps(Kind kind);

struct Staged {
    Scene scene;
    std::vector<detect::TapLabel> taps;
};

Staged stage(Kind kind, double seconds, Rng& rng);

}  // namespace norvo::tapgen
