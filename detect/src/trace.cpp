#include "norvo/detect/trace.hpp"

#include <fmt/format.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace norvo::detect {

namespace {

// Times beyond this do not fit nanoseconds in 64 bits.
constexpr double kLongestSeconds = 9e9;
constexpr std::size_t kShownCharacters = 40;

std::string_view shown(std::string_view text) {
    return text.substr(0, kShownCharacters);
}

std::optional<double> read_decimal(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::expected<Timestamp, std::string> read_seconds(std::string_view text) {
    const auto seconds = read_decimal(text);
    if (!seconds)
        return std::unexpected(
            fmt::format("time '{}' is not a decimal number of seconds", shown(text)));
    if (std::fabs(*seconds) > kLongestSeconds)
        return std::unexpected(
            fmt::format("time '{}' is out of range (at most 9e9 s either side of 0)", shown(text)));
    return Timestamp(std::llround(*seconds * 1e9));
}

std::expected<AccelSample, std::string> read_sample(std::string_view line) {
    std::array<std::string_view, 4> fields;
    std::size_t count = 0;
    for (std::size_t start = 0;; ++count) {
        const auto comma = line.find(',', start);
        if (count < fields.size())
            fields[count] = line.substr(start, comma - start);
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    if (++count != fields.size())
        return std::unexpected(
            fmt::format("expected 4 comma-separated values (time_s,x,y,z), found {}", count));
    AccelSample sample;
    const auto time = read_seconds(fields[0]);
    if (!time)
        return std::unexpected(time.error());
    sample.time = *time;
    constexpr std::array<std::string_view, 3> kAxes{"x", "y", "z"};
    const std::array<double*, 3> axes{&sample.x, &sample.y, &sample.z};
    for (std::size_t i = 0; i < axes.size(); ++i) {
        const auto value = read_decimal(fields[i + 1]);
        if (!value)
            return std::unexpected(fmt::format("{} '{}' is not a decimal number of m/s²", kAxes[i],
                                               shown(fields[i + 1])));
        *axes[i] = *value;
    }
    return sample;
}

// What rounds to zero at five decimals is written "0.00000", not "-0.00000".
double unsigned_zero(double value) {
    return std::fabs(value) < 5e-6 ? 0.0 : value;
}

bool blank(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

std::expected<Trace, TraceError> parse_trace(std::string_view text) {
    Trace trace;
    bool header_seen = false;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (line.starts_with('#')) {
            line.remove_prefix(1);
            line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
            trace.comments.push_back({number, std::string(line)});
            continue;
        }
        if (blank(line))
            continue;
        if (!header_seen) {
            if (line != kTraceHeader)
                return std::unexpected(
                    TraceError{number, fmt::format("expected the header '{}', found '{}'",
                                                   kTraceHeader, shown(line))});
            header_seen = true;
            continue;
        }
        auto sample = read_sample(line);
        if (!sample)
            return std::unexpected(TraceError{number, std::move(sample.error())});
        if (!trace.samples.empty() && sample->time <= trace.samples.back().time)
            return std::unexpected(
                TraceError{number, fmt::format("time {} s is not after the sample before ({} s)",
                                               format_seconds(sample->time, 6),
                                               format_seconds(trace.samples.back().time, 6))});
        trace.samples.push_back(*sample);
    }
    if (!header_seen)
        return std::unexpected(
            TraceError{number + 1, fmt::format("no header line '{}'", kTraceHeader)});
    return trace;
}

std::expected<std::vector<TapLabel>, TraceError> tap_labels(const Trace& trace) {
    std::vector<TapLabel> labels;
    for (const auto& comment : trace.comments) {
        std::string_view words = comment.text;
        if (!words.starts_with("tap="))
            continue;
        const auto space = words.find(' ');
        const auto onset = read_seconds(words.substr(4, space - 4));
        if (!onset)
            return std::unexpected(TraceError{comment.line, "tap label: " + onset.error()});
        TapLabel label{*onset, std::nullopt};
        if (space != std::string_view::npos) {
            const auto rest = words.substr(space + 1);
            label.peak = rest.starts_with("peak=") ? read_decimal(rest.substr(5)) : std::nullopt;
            if (!label.peak)
                return std::unexpected(TraceError{
                    comment.line, fmt::format("tap label: '{}' is not peak=M/S2", shown(rest))});
        }
        labels.push_back(label);
    }
    return labels;
}

std::string format_seconds(Timestamp time, int decimals) {
    std::int64_t scale = 1;
    for (int i = decimals; i < 9; ++i) scale *= 10;
    const std::int64_t ns = time.count();
    // Rounded half away from zero, in units of the last decimal shown.
    const std::int64_t units = (ns >= 0 ? ns + scale / 2 : ns - scale / 2) / scale;
    std::int64_t per_second = 1;
    for (int i = 0; i < decimals; ++i) per_second *= 10;
    const std::uint64_t magnitude =
        units < 0 ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
    const auto whole = magnitude / static_cast<std::uint64_t>(per_second);
    const auto fraction = magnitude % static_cast<std::uint64_t>(per_second);
    const std::string_view sign = units < 0 ? "-" : "";
    if (decimals == 0)
        return fmt::format("{}{}", sign, whole);
    return fmt::format("{}{}.{:0{}}", sign, whole, fraction, decimals);
}

std::string trace_comment(std::string_view text) {
    return fmt::format("# {}\n", text);
}

std::string trace_header() {
    return fmt::format("{}\n", kTraceHeader);
}

std::string trace_line(const AccelSample& sample) {
    return fmt::format("{},{:.5f},{:.5f},{:.5f}\n", format_seconds(sample.time, 6),
                       unsigned_zero(sample.x), unsigned_zero(sample.y), unsigned_zero(sample.z));
}

std::string tap_label_comment(const TapLabel& label) {
    if (label.peak)
        return fmt::format("# tap={} peak={:.3f}\n", format_seconds(label.onset, 6), *label.peak);
    return fmt::format("# tap={}\n", format_seconds(label.onset, 6));
}

}  // namespace norvo::detect
