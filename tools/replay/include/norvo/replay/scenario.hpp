#pragma once
// A replay scenario: what to feed the service, instant by instant, and the
// callbacks and log lines it must produce. The text format is in docs/replay-format.md.

#include "norvo/clock.hpp"
#include "norvo/log.hpp"
#include "norvo/sensors/types.hpp"
#include "norvo/service/procedures.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace norvo::replay {

namespace input {
struct SetProperty {
    service::PropertyKey key;
    std::vector<std::uint8_t> value;
};
// Bytes for NorvoReceiveClientEvent (`phone` lines are encoded here too).
struct Packet {
    std::vector<std::uint8_t> bytes;
};
struct Report {
    std::vector<sensors::SensorField> fields;
};
struct StateChanged {
    sensors::SensorState state;
};
struct Left {};
struct Entered {
    sensors::SensorState state;
};
struct Stop {};
}  // namespace input

using Input = std::variant<input::SetProperty, input::Packet, input::Report, input::StateChanged,
                           input::Left, input::Entered, input::Stop>;

struct TimedInput {
    std::uint64_t at_ms;
    Input input;
};

struct ExpectedLog {
    log::Level level;
    std::string message;

    friend bool operator==(const ExpectedLog&, const ExpectedLog&) = default;
};

// A scenario without a stop is stopped this long after its last input.
inline constexpr std::uint64_t kImplicitStopAfterMs = 10'000;

// The latest input time whose instant, plus the implicit stop and the longest
// confirmation range a client can set, still fits the clock.
inline constexpr std::uint64_t kLatestInputMs =
    static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Instant::duration::max()).count()) -
    kImplicitStopAfterMs - std::numeric_limits<std::uint32_t>::max();

struct Scenario {
    std::vector<input::SetProperty> initial_settings;  // applied before the start
    std::uint64_t cookie = 0;
    std::vector<TimedInput> inputs;  // in file order
    std::vector<std::string> expected_transcript;
    std::vector<ExpectedLog> expected_logs;
};

struct ParseError {
    std::size_t line;  // 1-based
    std::string reason;
};

[[nodiscard]] std::expected<Scenario, ParseError> parse_scenario(std::string_view text);

// The level words of the format: Error Warn Info Debug Trace.
std::string_view level_word(log::Level level);

}  // namespace norvo::replay
