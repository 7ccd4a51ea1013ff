#pragma once
// vtap-bench's command line and the size of each measurement.

#include <chrono>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace norvo::bench {

struct Sizes {
    std::size_t round_trips = 0;  // per side: transport calls and raw ping-pongs
    std::size_t confirmations = 0;
    std::chrono::milliseconds loop_time{0};  // in-process throughput run
    std::size_t timeouts = 0;
    std::chrono::milliseconds timeout_range{0};  // confirmation range of the timer runs
    std::size_t idle_clients = 0;
    std::chrono::milliseconds idle_time{0};
    std::size_t scale_clients = 0;
};

Sizes full_sizes();
// Under 40 s in all.
Sizes quick_sizes();
// A few seconds: shows the table is produced, says nothing about the figures.
Sizes smoke_sizes();

struct BenchOptions {
    std::string mode = "full";
    Sizes sizes = full_sizes();
    std::filesystem::path daemon;
    // Where the report goes; none prints the table only.
    std::optional<std::filesystem::path> output;
    // The CPU the bench, the daemon and the peers all run on; none leaves them unpinned.
    std::optional<int> pin;
};

// `default_daemon` and `default_output` apply unless the options name others; the
// quick and smoke runs write no report unless --output is given.
[[nodiscard]] std::expected<BenchOptions, std::string> parse_bench_options(
    std::span<const std::string_view> args, const std::filesystem::path& default_daemon,
    const std::filesystem::path& default_output);

extern const std::string_view kBenchUsage;

}  // namespace norvo::bench
