// Sensor loop throughput in process: confirmed tap pairs per second, on the real clock.

#include "norvo/linux/steady_clock.hpp"
#include "norvo/log.hpp"
#include "norvo/service/client_callbacks.hpp"
#include "norvo/service/sensor_loop.hpp"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using namespace norvo;
using namespace norvo::service;

// Counts Confirmed events and wakes the feeder for each one.
class CountingCallbacks final : public ClientCallbacks {
public:
    CallbackResult tap_event(std::int32_t kind, std::uint64_t, std::uint64_t) override {
        if (kind == static_cast<std::int32_t>(TapKind::Confirmed)) {
            std::lock_guard lock(mutex_);
            ++confirmed_;
            cv_.notify_one();
        }
        return {};
    }
    CallbackResult send_client_event(std::span<const std::uint8_t>, std::uint64_t) override { return {}; }
    CallbackResult sensor_state_changed(std::uint64_t, std::uint16_t, std::uint64_t) override { return {}; }
    CallbackResult signal_return(std::int32_t, std::uint64_t) override { return {}; }

    void wait_for(std::uint64_t count) {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return confirmed_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::uint64_t confirmed_ = 0;
};

std::vector<sensors::SensorField> tap_report() {
    return {{{0, 0, 0, 0, 0, 0, 0, 0}, {}, sensors::SensorValueType::UI4},
            {{1, 0, 0, 0, 0, 0, 0, 0}, {}, sensors::SensorValueType::UI4}};
}

void BM_ConfirmedPairs(benchmark::State& state) {
    log::set_sink(nullptr);
    linux_platform::SteadyClock clock;
    CountingCallbacks callbacks;
    auto [stop_tx, stop_rx] = channel::bounded<StopMessage>(1);
    auto [phone_tx, phone_rx] = channel::bounded<PhoneEvent>(10);
    auto [sensor_tx, sensor_rx] = channel::unbounded<sensors::SensorMessage>();

    std::thread loop([&, stop = std::move(stop_rx), phone = std::move(phone_rx),
                      sensor = std::move(sensor_rx)]() mutable {
        CurrentCallScope scope(callbacks);
        sensor_loop(clock, SensorLoopInputs{
                               .callback_cookie = 1,
                               .settings = make_shared_cell(TapSettings{}),
                               .ignore_unidentified_clients = make_shared_cell(false),
                               .tap_strength = make_shared_cell<std::optional<float>>(),
                               .client_id = make_shared_cell<std::optional<std::string>>(),
                               .stop = std::move(stop),
                               .phone_events = std::move(phone),
                               .sensor_messages = std::move(sensor),
                           });
    });

    std::uint64_t pairs = 0;
    for (auto _ : state) {
        (void)sensor_tx.try_send(sensors::message::DataUpdated{tap_report()});
        (void)phone_tx.try_send(PhoneEvent{});
        callbacks.wait_for(++pairs);
    }
    (void)stop_tx.try_send(StopMessage{});
    loop.join();
    state.counters["pairs_per_second"] = benchmark::Counter(static_cast<double>(pairs), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConfirmedPairs)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
