#pragma once
// The tap parameters as command-line options, one table for every program that takes them
// (vtap-detect; the daemon, and so its options file): `--tap-threshold 0.5` or
// `--tap-threshold=0.5m/s2`, `--tap-quiet-after 120` (milliseconds), `120ms` or `0.12s`.

#include "norvo/detect/tap_parameters.hpp"

#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <string_view>

namespace norvo::detect {

// Tries the option at args[index]: how many arguments it took (1 for --NAME=VALUE, 2 for
// --NAME VALUE), 0 when args[index] is no tap option, or why its value is refused.
std::expected<std::size_t, std::string> parse_tap_option(std::span<const std::string_view> args,
                                                         std::size_t index,
                                                         TapParameters& parameters);

// One help line per option, "  --tap-NAME VALUE   what it is (default D)", each ending in '\n'.
std::string tap_options_help();

// Every parameter with its unit, on one line: "threshold 0.45 m/s², noise factor 5, ...".
std::string describe(const TapParameters& parameters);

// Why a detector cannot run on these parameters (a value out of its option's range), if so.
std::expected<void, std::string> validate(const TapParameters& parameters);

}  // namespace norvo::detect
