#include "norvo/detect/tap_options.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <type_traits>
#include <variant>

namespace norvo::detect {

namespace {

using std::chrono::milliseconds;

enum class Unit { acceleration, factor, duration };

struct Option {
    std::string_view name;
    Unit unit;
    double least;  // in the unit: m/s², a factor, milliseconds
    double most;
    std::string_view help;
    std::variant<double TapParameters::*, milliseconds TapParameters::*> field;
};

constexpr std::array kOptions{
    Option{"--tap-threshold", Unit::acceleration, 0.05, 50,
           "least peak of a tap's high-passed acceleration", &TapParameters::threshold},
    Option{"--tap-noise-factor", Unit::factor, 0, 100,
           "the threshold rises to this many times the noise floor", &TapParameters::noise_factor},
    Option{"--tap-max-width", Unit::duration, 1, 500,
           "longest impulse that is a tap, at half its peak", &TapParameters::max_width},
    Option{"--tap-quiet-before", Unit::duration, 0, 1000,
           "nothing else reaches half the peak this long before", &TapParameters::quiet_before},
    Option{"--tap-quiet-after", Unit::duration, 0, 1000,
           "nor this long after (a tap is decided then)", &TapParameters::quiet_after},
    Option{"--tap-refractory", Unit::duration, 0, 10000, "no other tap this long after a tap",
           &TapParameters::refractory},
    Option{"--tap-motion-threshold", Unit::acceleration, 0.05, 50,
           "range of the steady acceleration that means moving", &TapParameters::motion_threshold},
    Option{"--tap-motion-hold", Unit::duration, 0, 10000,
           "no tap this long after the machine moved", &TapParameters::motion_hold},
};

struct UnitNames {
    std::string_view value;   // in usage lines: "--tap-threshold M/S2"
    std::string_view suffix;  // after a number: "0.4 m/s²"
};

constexpr std::array<UnitNames, 3> kUnitNames{
    {{"M/S2", " m/s²"}, {"K", ""}, {"MS", " ms"}}};  // in the order of Unit

const UnitNames& names(Unit unit) {
    return kUnitNames[static_cast<std::size_t>(unit)];
}

// The value in the option's unit: a decimal number, then the unit or (for a duration) "s".
std::optional<double> read_value(Unit unit, std::string_view text) {
    double number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc{} || !std::isfinite(number))
        return std::nullopt;
    const std::string_view suffix(end, text.data() + text.size());
    if (suffix.empty())
        return number;
    if (unit == Unit::acceleration && (suffix == "m/s2" || suffix == "m/s²"))
        return number;
    if (unit == Unit::duration && suffix == "ms")
        return number;
    if (unit == Unit::duration && suffix == "s")
        return number * 1000;
    return std::nullopt;
}

double read_field(const Option& option, const TapParameters& parameters) {
    return std::visit(
        [&](auto field) -> double {
            if constexpr (std::is_same_v<decltype(field), double TapParameters::*>)
                return parameters.*field;
            else
                return static_cast<double>((parameters.*field).count());
        },
        option.field);
}

std::expected<void, std::string> check_range(const Option& option, double value) {
    if (value < option.least || value > option.most)
        return std::unexpected(fmt::format("{} {}{} is out of range ({} to {})", option.name, value,
                                           names(option.unit).suffix, option.least, option.most));
    if (option.unit == Unit::duration && value != std::floor(value))
        return std::unexpected(
            fmt::format("{} {} ms is not a whole number of milliseconds", option.name, value));
    return {};
}

std::expected<void, std::string> assign(const Option& option, std::string_view text,
                                        TapParameters& parameters) {
    const auto value = read_value(option.unit, text);
    if (!value) {
        const std::string_view expected =
            option.unit == Unit::acceleration ? "an acceleration in m/s² (like 0.4 or 0.4m/s2)"
            : option.unit == Unit::duration   ? "a duration in ms (like 40, 40ms or 0.04s)"
                                              : "a number";
        return std::unexpected(fmt::format("{} '{}' is not {}", option.name, text, expected));
    }
    if (auto in_range = check_range(option, *value); !in_range)
        return in_range;
    std::visit(
        [&](auto field) {
            if constexpr (std::is_same_v<decltype(field), double TapParameters::*>)
                parameters.*field = *value;
            else
                parameters.*field = milliseconds(static_cast<milliseconds::rep>(*value));
        },
        option.field);
    return {};
}

}  // namespace

std::expected<std::size_t, std::string> parse_tap_option(std::span<const std::string_view> args,
                                                         std::size_t index,
                                                         TapParameters& parameters) {
    const std::string_view arg = args[index];
    for (const Option& option : kOptions) {
        if (arg == option.name) {
            if (index + 1 == args.size() || args[index + 1].empty())
                return std::unexpected(
                    fmt::format("{} needs {}", option.name, names(option.unit).value));
            if (auto done = assign(option, args[index + 1], parameters); !done)
                return std::unexpected(done.error());
            return 2;
        }
        if (arg.starts_with(option.name) && arg.size() > option.name.size() &&
            arg[option.name.size()] == '=') {
            if (auto done = assign(option, arg.substr(option.name.size() + 1), parameters); !done)
                return std::unexpected(done.error());
            return 1;
        }
    }
    return 0;
}

std::string tap_options_help() {
    const TapParameters defaults;
    std::string help;
    for (const Option& option : kOptions) {
        const auto usage = fmt::format("{} {}", option.name, names(option.unit).value);
        help += fmt::format("  {:<27} {} (default {}{})\n", usage, option.help,
                            read_field(option, defaults), names(option.unit).suffix);
    }
    return help;
}

std::string describe(const TapParameters& parameters) {
    std::string text;
    for (const Option& option : kOptions) {
        std::string name(option.name.substr(6));  // without "--tap-"
        std::replace(name.begin(), name.end(), '-', ' ');
        text += fmt::format("{}{} {}{}", text.empty() ? "" : ", ", name,
                            read_field(option, parameters), names(option.unit).suffix);
    }
    return text;
}

std::expected<void, std::string> validate(const TapParameters& parameters) {
    for (const Option& option : kOptions) {
        if (auto in_range = check_range(option, read_field(option, parameters)); !in_range)
            return in_range;
    }
    return {};
}

}  // namespace norvo::detect
