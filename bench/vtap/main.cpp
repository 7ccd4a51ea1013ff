// vtap-bench: measures norvo-vtapd against a raw Unix socket, prints the table and
// writes the report. See docs/performance.md.

#include <fmt/chrono.h>
#include <fmt/format.h>
#include <sched.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "measurements.hpp"
#include "norvo/log.hpp"
#include "options.hpp"
#include "report.hpp"
#if NORVO_BENCH_SD_BUS
#include "sd_bus_peer.hpp"
#endif

namespace {

using namespace norvo;
using namespace norvo::bench;

constexpr int kUsageError = 2;
constexpr std::chrono::seconds kStartGuard{30};
constexpr std::size_t kSpareDescriptors = 64;
constexpr std::size_t kFloodShare = 10;  // of the round trips, for each half of the flood run

void step(std::string_view what) {
    fmt::print(stderr, "vtap-bench: {}\n", what);
}

// Each client holds a socket here and one in the daemon, which inherits this limit.
[[nodiscard]] std::expected<void, std::string> raise_descriptor_limit(std::size_t clients) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return std::unexpected("getrlimit failed");
    const rlim_t needed = clients + kSpareDescriptors;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed)
        return std::unexpected(fmt::format("{} clients need {} descriptors; the hard limit is {}",
                                           clients, needed, limit.rlim_max));
    limit.rlim_cur = std::max(limit.rlim_cur, needed);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return std::unexpected("setrlimit failed");
    return {};
}

// Before anything is started: the threads and the processes started later inherit it.
[[nodiscard]] std::expected<void, std::string> pin_to(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (::sched_setaffinity(0, sizeof set, &set) != 0)
        return std::unexpected(fmt::format("cannot pin to CPU {}: {}", cpu, std::strerror(errno)));
    return {};
}

std::string utc_now() {
    const auto now = std::chrono::floor<std::chrono::minutes>(std::chrono::system_clock::now());
    return fmt::format("{:%Y-%m-%d %H:%M} UTC", now);
}

[[nodiscard]] std::expected<void, std::string> write_report(const std::filesystem::path& path,
                                                            const std::string& section) {
    std::string existing;
    if (std::ifstream in(path); in) {
        std::ostringstream text;
        text << in.rdbuf();
        existing = std::move(text).str();
    }
    std::ofstream out(path, std::ios::trunc);
    out << splice_report(existing, section);
    if (!out.flush())
        return std::unexpected("cannot write " + path.string());
    return {};
}

template <class T>
T value_or_exit(std::expected<T, std::string> result) {
    if (!result) {
        fmt::print(stderr, "vtap-bench: {}\n", result.error());
        std::exit(1);
    }
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

// The same round trip on a daemon that writes every line, as it does by default.
std::expected<Percentiles, std::string> measure_traced_round_trips(const BenchOptions& options,
                                                                   const Sizes& sizes) {
    auto daemon = Daemon::start(options.daemon, kStartGuard);
    if (!daemon)
        return std::unexpected(daemon.error());
    auto client = BenchClient::open((*daemon)->endpoint());
    if (!client)
        return std::unexpected(client.error());
    if (auto started = (*client)->start(); !started)
        return std::unexpected(started.error());
    return measure_round_trips(**client, sizes.round_trips);
}

// Another connection's queries while one floods phone events, on a daemon at its
// default level, whose log is a file written as fast as the disk takes it.
std::expected<Flooded, std::string> measure_flood(const BenchOptions& options, const Sizes& sizes) {
    auto daemon = Daemon::start(options.daemon, kStartGuard);
    if (!daemon)
        return std::unexpected(daemon.error());
    return measure_flooded_queries(**daemon, sizes.round_trips / kFloodShare);
}

Figures measure(const BenchOptions& options) {
    const auto& sizes = options.sizes;
    Figures figures;
    figures.timeout_range_ms = static_cast<std::uint32_t>(sizes.timeout_range.count());
    figures.idle_clients = sizes.idle_clients;
    figures.idle_seconds = std::chrono::duration<double>(sizes.idle_time).count();
    figures.scale_clients = sizes.scale_clients;
    const auto frames = query_frame_sizes();
    figures.frame_bytes_in = frames.call;
    figures.frame_bytes_out = frames.result;
    auto raw = value_or_exit(RawPeer::fork(frames.call, frames.result));
#if NORVO_BENCH_SD_BUS
    auto sd_bus = value_or_exit(SdBusPeer::fork());
#endif

    step("loop throughput in process");
    figures.pairs_per_second = measure_loop_pairs(sizes.loop_time);

    // The peers log nothing per call: neither does this daemon, as a Windows
    // service writes nothing that no trace session asked for.
    auto daemon =
        value_or_exit(Daemon::start(options.daemon, kStartGuard, {"--log-level", "info"}));
    const auto baseline = read_process(daemon->pid());
    figures.baseline_rss_kib = baseline ? baseline->rss_kib : 0;
    // Started before the sensor is present, so the sensor's arrival shows that this
    // run's subscription takes its reports.
    auto client = value_or_exit(BenchClient::open(daemon->endpoint()));
    value_or_exit(client->start());
    const auto sensor = value_or_exit(SensorDevice::enter(daemon->sensor_socket()));
    if (!client->state_changed())
        value_or_exit<void>(std::unexpected("the sensor's arrival was not reported"));

    step("round trips");
    figures.round_trip = value_or_exit(measure_round_trips(*client, sizes.round_trips));
    figures.round_trip_traced = value_or_exit(measure_traced_round_trips(options, sizes));
    step("queries while another connection floods phone events");
    const auto flood = value_or_exit(measure_flood(options, sizes));
    figures.flood_quiet = flood.quiet;
    figures.flooded = flood.flooded;
    figures.flood_events_per_second = flood.events_per_second;
    step("raw ping-pongs");
    figures.raw_ping_pong = value_or_exit(
        measure_exchanges("the raw ping-pong", sizes.round_trips, [&] { return raw.exchange(); }));
#if NORVO_BENCH_SD_BUS
    step("sd-bus method calls");
    figures.sd_bus = value_or_exit(
        measure_exchanges("the sd-bus call", sizes.round_trips, [&] { return sd_bus.call(); }));
#endif
    step("confirmations");
    const auto confirmations =
        value_or_exit(measure_confirmations(*client, sensor, sizes.confirmations));
    figures.confirmation = confirmations.confirmed;
    figures.laptop_tap = confirmations.laptop_tap;
    step("timer lateness");
    figures.lateness =
        value_or_exit(measure_lateness(*client, sensor, sizes.timeouts, sizes.timeout_range));

    // The first client and the sensor stay: their teardown would not be idle time.
    std::vector<std::unique_ptr<BenchClient>> clients;
    clients.push_back(std::move(client));
    step(fmt::format("idle with {} running clients", sizes.idle_clients));
    value_or_exit(add_running_clients(*daemon, clients, sizes.idle_clients));
    figures.idle_context_switches = value_or_exit(measure_idle(*daemon, sizes.idle_time));

    step(fmt::format("{} running clients", sizes.scale_clients));
    value_or_exit(add_running_clients(*daemon, clients, sizes.scale_clients));
    const auto scale = read_process(daemon->pid());
    if (!scale)
        value_or_exit<void>(std::unexpected("cannot read the daemon's status"));
    figures.scale_rss_kib = scale->rss_kib;
    figures.scale_threads = scale->threads;
    step("stopping the clients");
    clients.clear();
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto options = parse_bench_options(args, NORVO_VTAPD_PATH, NORVO_REPORT_PATH);
    if (!options) {
        fmt::print(stderr, "vtap-bench: {}\n{}", options.error(), kBenchUsage);
        return kUsageError;
    }
    log::set_sink(nullptr);
    if (options->pin)
        value_or_exit(pin_to(*options->pin));
    value_or_exit(
        raise_descriptor_limit(options->sizes.scale_clients + options->sizes.idle_clients));

    const auto load = read_load_average();
    const auto figures = measure(*options);
    const auto table = rows(figures);
    std::string command = "vtap-bench";
    for (const auto arg : args) command += fmt::format(" {}", arg);
    if (options->output) {
        const RunInfo run{read_machine(), command, utc_now(), load, options->pin.has_value()};
        value_or_exit(write_report(*options->output, generated_section(run, table)));
        step("report written to " + options->output->string());
    }
    fmt::print("{}", text_table(table, round_trip_ratio(figures)));
    return 0;
}
