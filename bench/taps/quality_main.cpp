// vtap-tap-quality: generates labelled traces of every kind at every rate from a seed, runs the
// tap detector on them and prints how it did (the tables of docs/sensor-device.md).

#include "arguments.hpp"
#include "quality.hpp"

#include "norvo/detect/tap_options.hpp"

#include <fmt/format.h>

#include <vector>

namespace {

constexpr std::string_view kUsage =
    "usage: vtap-tap-quality [--minutes M] [--seed N] [--check] [TAP OPTIONS]\n"
    "       vtap-tap-quality -h | --help | --version\n"
    "Generates labelled traces of every kind (taps at rest and while typing; typing, clicks,\n"
    "lifting and tilting, walking, vibration, the lid) at 50, 100, 200 and 400 Hz from the\n"
    "seed, runs the tap detector on them and prints recall, false positives and onset error.\n"
    "  --minutes M   of each kind at each rate (default 30)\n"
    "  --seed N      the first seed (default 1)\n"
    "  --check       exit 1 when a goal at 100 Hz and above is missed\n"
    "TAP OPTIONS, the detector's parameters:\n";

int usage_error(std::string_view reason) {
    fmt::print(stderr, "vtap-tap-quality: {}\n{}{}", reason, kUsage,
               norvo::detect::tap_options_help());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    norvo::tapgen::Arguments arguments(args);
    double minutes = 30;
    std::uint64_t seed = 1;
    bool check = false;
    norvo::detect::TapParameters parameters;
    while (!arguments.done()) {
        const auto arg = arguments.current();
        if (arg == "-h" || arg == "--help") {
            fmt::print("{}{}", kUsage, norvo::detect::tap_options_help());
            return 0;
        }
        if (arg == "--version") {
            fmt::print("vtap-tap-quality {}\n", NORVO_VERSION);
            return 0;
        }
        if (arg == "--check") {
            check = true;
            arguments.skip(1);
        } else if (arg == "--minutes") {
            const auto value = arguments.value().and_then(norvo::tapgen::positive_number);
            if (!value)
                return usage_error("--minutes needs a number of minutes");
            minutes = *value;
        } else if (arg == "--seed") {
            const auto value = arguments.value().and_then(norvo::tapgen::whole_number);
            if (!value)
                return usage_error("--seed needs a whole number");
            seed = *value;
        } else {
            const auto taken = norvo::detect::parse_tap_option(args, arguments.index(), parameters);
            if (!taken)
                return usage_error(taken.error());
            if (*taken == 0)
                return usage_error(fmt::format("unknown option '{}'", arg));
            arguments.skip(*taken);
        }
    }
    const auto measurement = norvo::tapgen::measure(minutes, seed, parameters);
    fmt::print("Parameters: {}.\n\n{}", norvo::detect::describe(parameters),
               norvo::tapgen::report(measurement));
    const auto unmet = norvo::tapgen::unmet_goals(measurement);
    for (const auto& line : unmet) fmt::print("goal missed: {}\n", line);
    if (unmet.empty())
        fmt::print("Goals at 100 Hz and above: met.\n");
    return check && !unmet.empty() ? 1 : 0;
}
