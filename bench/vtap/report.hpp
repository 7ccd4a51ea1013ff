#pragma once
// The figures of one run, the table they make, and the report file they go into.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "proc_info.hpp"
#include "stats.hpp"

namespace norvo::bench {

// Latencies in microseconds.
struct Figures {
    std::size_t frame_bytes_in = 0;   // the query's Call frame
    std::size_t frame_bytes_out = 0;  // and its Result frame
    Percentiles round_trip;           // the daemon writing Info and above, as the peers log nothing
    Percentiles round_trip_traced;    // the daemon writing every line, its default
    Percentiles flood_quiet;          // another connection, the daemon at its default
    Percentiles flooded;              // the same while one floods 64 KiB phone events
    double flood_events_per_second = 0;
    Percentiles raw_ping_pong;
    std::optional<Percentiles> sd_bus;  // measured when built with libsystemd
    Percentiles confirmation;
    Percentiles laptop_tap;  // report written to the device -> LaptopTap callback
    double pairs_per_second = 0;
    Percentiles lateness;
    std::uint32_t timeout_range_ms = 0;
    std::size_t idle_clients = 0;
    double idle_seconds = 0;
    std::uint64_t idle_context_switches = 0;
    std::size_t scale_clients = 0;
    std::uint64_t baseline_rss_kib = 0;  // the daemon with no client
    std::uint64_t scale_rss_kib = 0;
    std::uint64_t scale_threads = 0;
};

struct Row {
    std::string measurement;
    std::string figure;
    std::string goal;     // empty where none is set
    std::string verdict;  // "met", "missed", or empty
};

double round_trip_ratio(const Figures& figures);
std::vector<Row> rows(const Figures& figures);

// Plain columns for the terminal; the last line is the round-trip ratio.
std::string text_table(const std::vector<Row>& rows, double ratio);

struct RunInfo {
    Machine machine;
    std::string command;
    std::string date;     // UTC, e.g. "2026-12-09 14:03 UTC"
    std::string load;     // the load averages when the run began
    bool pinned = false;  // a pinned run has a section of its own
};

// The generated part of the report, between its markers.
std::string generated_section(const RunInfo& run, const std::vector<Row>& rows);

// The report with its generated part replaced by `section`, found by the section's own
// first and last lines; what lies outside them is kept. A report without both gets a
// title and the section first.
std::string splice_report(std::string_view existing, std::string_view section);

inline constexpr std::string_view kBeginMarker = "<!-- vtap-bench: generated, begin -->";
inline constexpr std::string_view kEndMarker = "<!-- vtap-bench: generated, end -->";
inline constexpr std::string_view kPinnedBeginMarker =
    "<!-- vtap-bench --pin: generated, begin -->";
inline constexpr std::string_view kPinnedEndMarker = "<!-- vtap-bench --pin: generated, end -->";

}  // namespace norvo::bench
