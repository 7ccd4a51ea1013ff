// vtap-trace-gen: one labelled accelerometer trace from a seed, in the trace format.

#include "arguments.hpp"
#include "generator.hpp"

#include <fmt/format.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::string_view kUsage =
    "usage: vtap-trace-gen --kind KIND [--rate HZ] [--seconds S] [--condition C] [--seed N]\n"
    "                      [-o FILE]\n"
    "       vtap-trace-gen -h | --help | --version\n"
    "Writes a generated trace (time_s,x,y,z with '# tap=' labels) to standard output or FILE.\n"
    "  --kind KIND       taps-rest, taps-typing, typing, clicks, lift, walk, vibration or lid\n"
    "  --rate HZ         samples a second (default 100)\n"
    "  --seconds S       length (default 60)\n"
    "  --condition C     the hub: clean, repeats, drops, jitter, coarse or all (default clean)\n"
    "  --seed N          (default 1)\n";

// The one of `all` whose name is `name`.
template <class T, std::size_t N>
std::optional<T> named(const T (&all)[N], std::string_view (*name_of)(T), std::string_view name) {
    for (T value : all) {
        if (name_of(value) == name)
            return value;
    }
    return std::nullopt;
}

int usage_error(std::string_view reason) {
    fmt::print(stderr, "vtap-trace-gen: {}\n{}", reason, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace norvo::tapgen;
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    Arguments arguments(args);
    TraceRecipe recipe;
    bool kind_given = false;
    std::string output;
    while (!arguments.done()) {
        const auto arg = arguments.current();
        if (arg == "-h" || arg == "--help") {
            fmt::print("{}", kUsage);
            return 0;
        }
        if (arg == "--version") {
            fmt::print("vtap-trace-gen {}\n", NORVO_VERSION);
            return 0;
        }
        const auto value = arguments.value();
        if (!value)
            return usage_error(fmt::format("unknown option '{}' or a value missing", arg));
        if (arg == "--kind") {
            const auto kind = named(kKinds, kind_name, *value);
            if (!kind)
                return usage_error(fmt::format("unknown kind '{}'", *value));
            recipe.kind = *kind;
            kind_given = true;
        } else if (arg == "--condition") {
            const auto condition = named(kConditions, condition_name, *value);
            if (!condition)
                return usage_error(fmt::format("unknown condition '{}'", *value));
            recipe.condition = *condition;
        } else if (arg == "--rate" || arg == "--seconds") {
            const auto number = positive_number(*value);
            if (!number)
                return usage_error(fmt::format("{} '{}' is not a positive number", arg, *value));
            (arg == "--rate" ? recipe.rate_hz : recipe.seconds) = *number;
        } else if (arg == "--seed") {
            const auto seed = whole_number(*value);
            if (!seed)
                return usage_error(fmt::format("--seed '{}' is not a whole number", *value));
            recipe.seed = *seed;
        } else if (arg == "-o") {
            output = *value;
        } else {
            return usage_error(fmt::format("unknown option '{}'", arg));
        }
    }
    if (!kind_given)
        return usage_error("--kind is needed");
    const std::string text = trace_text(recipe, generate(recipe));
    if (output.empty()) {
        fmt::print("{}", text);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    std::ofstream out(output, std::ios::binary);
    out << text;
    out.close();
    if (!out) {
        fmt::print(stderr, "vtap-trace-gen: cannot write {}\n", output);
        return 1;
    }
    return 0;
}
