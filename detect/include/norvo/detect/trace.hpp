#pragma once
// Accelerometer traces as text, the files vtap-detect reads and a recorder writes:
//
//   # rate_hz=100                  comments start with '#', anywhere
//   time_s,x,y,z                   the first line that is not a comment, exactly
//   12.345678,0.0123,-9.7912,0.21  one sample per line: seconds (increasing), then m/s²
//
// A comment "# tap=TIME_S peak=M/S2" (peak optional) marks a tap known to be there, starting at
// TIME_S: for measuring the detector and for drawing next to its findings.

#include "norvo/detect/sample.hpp"

#include <cstddef>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::detect {

inline constexpr std::string_view kTraceHeader = "time_s,x,y,z";

struct TraceComment {
    std::size_t line = 0;  // from 1
    std::string text;      // after the '#' and the blanks that follow it
};

struct Trace {
    std::vector<TraceComment> comments;
    std::vector<AccelSample> samples;
};

struct TraceError {
    std::size_t line = 0;
    std::string reason;
};

std::expected<Trace, TraceError> parse_trace(std::string_view text);

struct TapLabel {
    Timestamp onset{};
    std::optional<double> peak;  // m/s²

    bool operator==(const TapLabel&) const = default;
};

// The trace's "tap=" comments, in the order they stand.
std::expected<std::vector<TapLabel>, TraceError> tap_labels(const Trace& trace);

// Seconds in plain decimal with this many decimals, rounded: "-0.0125".
std::string format_seconds(Timestamp time, int decimals);

// The writer's lines, each ending in '\n'; times to the microsecond, accelerations to 10 µm/s².
std::string trace_comment(std::string_view text);
std::string trace_header();
std::string trace_line(const AccelSample& sample);
std::string tap_label_comment(const TapLabel& label);

}  // namespace norvo::detect
