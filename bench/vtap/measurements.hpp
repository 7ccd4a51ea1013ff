#pragma once
// The measurements of the table, each against the running daemon or in process.

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_client.hpp"
#include "daemon.hpp"
#include "proc_info.hpp"
#include "raw_ping_pong.hpp"
#include "sensor_device.hpp"
#include "stats.hpp"

namespace norvo::bench {

// The sizes of the QueryProperty frames the round trip sends and receives.
struct FrameSizes {
    std::size_t call = 0;
    std::size_t result = 0;
};
FrameSizes query_frame_sizes();

// `count` exchanges timed one by one, in a loop of their own: interleaved with other
// work, a peer's exchange finds its threads already awake and looks faster.
[[nodiscard]] std::expected<Percentiles, std::string> measure_exchanges(
    std::string_view peer, std::size_t count, const std::function<bool()>& exchange);

// Queries the confirmation range with a buffer of its size.
[[nodiscard]] std::expected<Percentiles, std::string> measure_round_trips(BenchClient& client,
                                                                          std::size_t count);

struct Flooded {
    Percentiles quiet;    // another connection's queries with nothing else going on
    Percentiles flooded;  // the same while one connection sends 64 KiB phone events
    double events_per_second = 0;
};
// On a daemon at its default level, which logs each phone event's bytes.
[[nodiscard]] std::expected<Flooded, std::string> measure_flooded_queries(const Daemon& daemon,
                                                                          std::size_t count);

struct Confirmations {
    Percentiles confirmed;   // with a laptop tap pending, phone event sent -> Confirmed
    Percentiles laptop_tap;  // the tap's report written to the device -> LaptopTap
};
[[nodiscard]] std::expected<Confirmations, std::string> measure_confirmations(
    BenchClient& client, const SensorDevice& sensor, std::size_t count);

// Confirmed pairs per second of a sensor loop in this process.
double measure_loop_pairs(std::chrono::milliseconds duration);

// UnconfirmedTap arrival minus the deadline: the moment the tap was sent to the
// device plus the confirmation range.
[[nodiscard]] std::expected<Percentiles, std::string> measure_lateness(
    BenchClient& client, const SensorDevice& sensor, std::size_t count,
    std::chrono::milliseconds range);

// Opens and starts clients until `clients` hold `count`.
[[nodiscard]] std::expected<void, std::string> add_running_clients(
    const Daemon& daemon, std::vector<std::unique_ptr<BenchClient>>& clients, std::size_t count);

// The daemon's context switches over `duration` with nothing happening, from a
// second after the last call.
[[nodiscard]] std::expected<std::uint64_t, std::string> measure_idle(
    const Daemon& daemon, std::chrono::milliseconds duration);

}  // namespace norvo::bench
