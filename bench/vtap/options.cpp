#include "options.hpp"

#include <sched.h>

#include <charconv>

namespace norvo::bench {

using namespace std::chrono_literals;

const std::string_view kBenchUsage =
    "usage: vtap-bench [--quick | --smoke] [--pin CPU] [--daemon PATH] [--output PATH]\n"
    "  --quick        a reduced run, under 40 s; prints the table only\n"
    "  --smoke        a tiny run that only shows the table is produced\n"
    "  --pin CPU      runs the bench, the daemon and the peers on that one CPU\n"
    "  --daemon PATH  the norvo-vtapd to measure (default: the one built beside this tool)\n"
    "  --output PATH  where the report goes (default for a full run: docs/performance.md)\n";

Sizes full_sizes() {
    return {.round_trips = 20'000,
            .confirmations = 2'000,
            .loop_time = 3s,
            .timeouts = 300,
            .timeout_range = 20ms,
            .idle_clients = 100,
            .idle_time = 10s,
            .scale_clients = 1'000};
}

Sizes quick_sizes() {
    return {.round_trips = 3'000,
            .confirmations = 300,
            .loop_time = 1s,
            .timeouts = 60,
            .timeout_range = 20ms,
            .idle_clients = 100,
            .idle_time = 3s,
            .scale_clients = 1'000};
}

Sizes smoke_sizes() {
    return {.round_trips = 50,
            .confirmations = 5,
            .loop_time = 50ms,
            .timeouts = 3,
            .timeout_range = 5ms,
            .idle_clients = 3,
            .idle_time = 100ms,
            .scale_clients = 10};
}

std::expected<BenchOptions, std::string> parse_bench_options(
    std::span<const std::string_view> args, const std::filesystem::path& default_daemon,
    const std::filesystem::path& default_output) {
    BenchOptions options;
    options.daemon = default_daemon;
    bool output_given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto arg = args[i];
        if (arg == "--quick" || arg == "--smoke") {
            if (options.mode != "full")
                return std::unexpected("--quick and --smoke exclude each other");
            options.mode = arg.substr(2);
            options.sizes = arg == "--quick" ? quick_sizes() : smoke_sizes();
        } else if (arg == "--pin") {
            int cpu = -1;
            const auto text = i + 1 < args.size() ? args[++i] : std::string_view{};
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), cpu);
            if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || cpu < 0 ||
                cpu >= CPU_SETSIZE)
                return std::unexpected("--pin needs a CPU number");
            options.pin = cpu;
        } else if (arg == "--daemon" || arg == "--output") {
            if (i + 1 == args.size())
                return std::unexpected(std::string(arg) + " needs a path");
            const std::filesystem::path path(args[++i]);
            if (arg == "--daemon") {
                options.daemon = path;
            } else {
                options.output = path;
                output_given = true;
            }
        } else {
            return std::unexpected("unknown argument: " + std::string(arg));
        }
    }
    if (!output_given && options.mode == "full")
        options.output = default_output;
    return options;
}

}  // namespace norvo::bench
