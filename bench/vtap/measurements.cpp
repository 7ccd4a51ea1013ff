#include "measurements.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "loop_pairs.hpp"
#include "norvo/little_endian.hpp"
#include "norvo/service/properties.hpp"
#include "norvo/wire/interface.hpp"

namespace norvo::bench {
namespace {

using service::TapKind;
using std::chrono::duration;
using Micros = duration<double, std::micro>;

namespace key = service::property_key;

constexpr std::chrono::seconds kSettle{1};

const std::vector<std::uint8_t> kPhoneTap{1, 0, 1, 0, 0, 0};
constexpr std::size_t kFloodEventBytes = wire::kMaxArraySize;  // the largest packet there is

std::vector<std::uint8_t> u32(std::uint32_t value) {
    return le_bytes(value);
}

std::vector<std::uint8_t> flag(bool on) {
    return {static_cast<std::uint8_t>(on)};
}

double micros(BenchClock::duration d) {
    return Micros(d).count();
}

[[nodiscard]] std::expected<void, std::string> tapped(bool written) {
    if (!written)
        return std::unexpected("the daemon closed the device socket");
    return {};
}

// Sets each property in turn, the first failure ending it. The loop reads the range
// for a whole iteration, so a report without a tap takes it round once before the
// next tap.
[[nodiscard]] std::expected<void, std::string> set_all(
    BenchClient& client, const SensorDevice& sensor,
    std::initializer_list<std::pair<client::PropertyKey, std::vector<std::uint8_t>>> values) {
    for (const auto& [key, value] : values) {
        if (auto set = client.set(key, value); !set)
            return set;
    }
    return tapped(sensor.no_tap());
}

// From just before `act` to the arrival of the next TapEvent of `kind`, in µs.
template <class Act>
[[nodiscard]] std::expected<double, std::string> time_to(BenchClient& client, TapKind kind,
                                                         std::string_view name, Act act) {
    const auto begin = BenchClock::now();
    if (auto done = act(); !done)
        return std::unexpected(done.error());
    const auto arrived = client.next(kind);
    if (!arrived)
        return std::unexpected(fmt::format("no {} event within {} s", name, kGuard.count()));
    return micros(*arrived - begin);
}

}  // namespace

FrameSizes query_frame_sizes() {
    const wire::call::NorvoQueryProperty call{.key = key::confirmation_range,
                                              .buffer = wire::PropertyBuffer{u32(0)}};
    const wire::result::NorvoQueryProperty result{.size = 4,
                                                  .buffer = wire::PropertyBuffer{u32(0)}};
    constexpr auto opnum = wire::kOpnum<wire::call::NorvoQueryProperty>;
    return {wire::make_frame(wire::FrameKind::Call, opnum, 1, *wire::encode(call)).size(),
            wire::make_frame(wire::FrameKind::Result, opnum, 1, *wire::encode(result)).size()};
}

std::expected<Percentiles, std::string> measure_exchanges(std::string_view peer, std::size_t count,
                                                          const std::function<bool()>& exchange) {
    std::vector<double> samples;
    samples.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto begin = BenchClock::now();
        const bool answered = exchange();
        samples.push_back(micros(BenchClock::now() - begin));
        if (!answered)
            return std::unexpected(fmt::format("{} failed", peer));
    }
    return percentiles(samples);
}

std::expected<Percentiles, std::string> measure_round_trips(BenchClient& client,
                                                            std::size_t count) {
    return measure_exchanges("NorvoQueryProperty", count, [&] {
        const auto out = client.connection().NorvoQueryProperty(client.context(),
                                                                key::confirmation_range, u32(0));
        return out && out->value == 0;
    });
}

std::expected<Flooded, std::string> measure_flooded_queries(const Daemon& daemon,
                                                            std::size_t count) {
    auto querier = BenchClient::open(daemon.endpoint());
    if (!querier)
        return std::unexpected(querier.error());
    auto flooder = BenchClient::open(daemon.endpoint());
    if (!flooder)
        return std::unexpected(flooder.error());
    Flooded out;
    if (auto quiet = measure_round_trips(**querier, count); quiet)
        out.quiet = *quiet;
    else
        return std::unexpected(quiet.error());

    // A phone tap followed by padding: accepted, and the whole packet goes to the log.
    std::vector<std::uint8_t> event(kFloodEventBytes, 7);
    std::ranges::copy(kPhoneTap, event.begin());
    std::atomic<bool> flooding{true}, failed{false};
    std::size_t sent = 0;
    const auto begin = BenchClock::now();
    std::thread flood([&] {
        auto& client = **flooder;
        for (; flooding.load(std::memory_order_relaxed); ++sent) {
            if (!client.connection().NorvoReceiveClientEvent(client.context(), event)) {
                failed = true;
                return;
            }
        }
    });
    auto flooded = measure_round_trips(**querier, count);
    flooding = false;
    flood.join();
    if (failed)
        return std::unexpected("the flood's NorvoReceiveClientEvent failed");
    if (!flooded)
        return std::unexpected(flooded.error());
    out.flooded = *flooded;
    out.events_per_second =
        static_cast<double>(sent) / duration<double>(BenchClock::now() - begin).count();
    return out;
}

std::expected<Confirmations, std::string> measure_confirmations(BenchClient& client,
                                                                const SensorDevice& sensor,
                                                                std::size_t count) {
    // A long range, so a busy machine cannot turn a pending tap into a timeout. The
    // laptop tap is seen through its debug event, which needs an identified client
    // and the service-wide switch on; debug mode is off again before the phone event,
    // so no PhoneTap callback comes before the Confirmed one.
    if (auto set = set_all(client, sensor,
                           {{key::confirmation_range, u32(10'000)},
                            {key::enable_unconfirmed_taps, flag(false)},
                            {key::client_id, {'b', 'e', 'n', 'c', 'h'}},
                            {key::ignore_unidentified_clients, flag(true)}});
        !set)
        return std::unexpected(set.error());
    std::vector<double> samples, taps;
    const auto phone_event = [&]() -> std::expected<void, std::string> {
        const auto accepted =
            client.connection().NorvoReceiveClientEvent(client.context(), kPhoneTap);
        if (!accepted || *accepted != 0)
            return std::unexpected("NorvoReceiveClientEvent failed");
        return {};
    };
    for (std::size_t i = 0; i < count; ++i) {
        if (auto set = client.set(key::debug_mode, flag(true)); !set)
            return std::unexpected(set.error());
        const auto tap =
            time_to(client, TapKind::LaptopTap, "LaptopTap", [&] { return tapped(sensor.tap()); });
        if (!tap)
            return std::unexpected(tap.error());
        taps.push_back(*tap);
        if (auto set = client.set(key::debug_mode, flag(false)); !set)
            return std::unexpected(set.error());
        const auto confirmed = time_to(client, TapKind::Confirmed, "Confirmed", phone_event);
        if (!confirmed)
            return std::unexpected(confirmed.error());
        samples.push_back(*confirmed);
    }
    if (auto set = client.set(key::ignore_unidentified_clients, flag(false)); !set)
        return std::unexpected(set.error());
    return Confirmations{percentiles(samples), percentiles(taps)};
}

double measure_loop_pairs(std::chrono::milliseconds length) {
    LoopPairs loop;
    const auto begin = BenchClock::now();
    auto elapsed = BenchClock::duration{};
    while (elapsed < length) {
        loop.confirm_one();
        elapsed = BenchClock::now() - begin;
    }
    return static_cast<double>(loop.confirmed()) / duration<double>(elapsed).count();
}

std::expected<Percentiles, std::string> measure_lateness(BenchClient& client,
                                                         const SensorDevice& sensor,
                                                         std::size_t count,
                                                         std::chrono::milliseconds range) {
    if (auto set =
            set_all(client, sensor,
                    {{key::confirmation_range, u32(static_cast<std::uint32_t>(range.count()))},
                     {key::enable_unconfirmed_taps, flag(true)},
                     {key::debug_mode, flag(false)}});
        !set)
        return std::unexpected(set.error());
    std::vector<double> samples;
    for (std::size_t i = 0; i < count; ++i) {
        const auto expired = time_to(client, TapKind::UnconfirmedTap, "UnconfirmedTap",
                                     [&] { return tapped(sensor.tap()); });
        if (!expired)
            return std::unexpected(expired.error());
        samples.push_back(*expired - micros(range));
    }
    return percentiles(samples);
}

std::expected<void, std::string> add_running_clients(
    const Daemon& daemon, std::vector<std::unique_ptr<BenchClient>>& clients, std::size_t count) {
    while (clients.size() < count) {
        auto client = BenchClient::open(daemon.endpoint());
        if (!client)
            return std::unexpected(client.error());
        if (auto started = (*client)->start(); !started)
            return std::unexpected(started.error());
        clients.push_back(std::move(*client));
    }
    return {};
}

std::expected<std::uint64_t, std::string> measure_idle(const Daemon& daemon,
                                                       std::chrono::milliseconds length) {
    // The threads that answered the last start block again only after their answer
    // is out: the window opens once they have settled.
    std::this_thread::sleep_for(kSettle);
    const auto before = context_switches(daemon.pid());
    std::this_thread::sleep_for(length);  // the window measured
    const auto after = context_switches(daemon.pid());
    if (!before || !after)
        return std::unexpected("cannot read the daemon's threads from /proc");
    if (*after < *before)
        return std::unexpected("a thread of the daemon ended while it was idle");
    return *after - *before;
}

}  // namespace norvo::bench
