// NorvoStartSensor: sets up a sensor run, runs the loop on this thread, cleans up.

#include "norvo/fatal.hpp"
#include "norvo/sensors/tap_sensor.hpp"
#include "norvo/service/client_callbacks.hpp"
#include "norvo/service/log_target.hpp"
#include "norvo/service/procedures.hpp"
#include "norvo/service/runtime.hpp"
#include "norvo/service/sensor_callbacks.hpp"
#include "norvo/service/sensor_loop.hpp"

namespace norvo::service {
namespace {

using sensors::SensorMessage;

bool simulation_mode(const ClientContext& context) {
    return context.settings->with([](const TapSettings& s) { return s.simulation_mode; });
}

// What this call put in the context. Overlapping starts on one context share its
// manager and subscription cells, and an earlier start that ends late must not
// clear what a later one has put there. Weak references compare by owner, so a
// later object at a freed address is never taken for ours.
struct OwnSensor {
    std::weak_ptr<sensors::SensorManager> manager;
    std::weak_ptr<sensors::SensorSubscription> subscription;
};

template <class T>
void clear_if_own(Cell<std::shared_ptr<T>>& cell, const std::weak_ptr<T>& own) {
    std::shared_ptr<T> released;  // destroyed after the cell's lock
    cell.with([&](std::shared_ptr<T>& held) {
        if (!held.owner_before(own) && !own.owner_before(held))
            released = std::move(held);
    });
}

// From the sensor manager up to the loop's end. The receivers are released on
// every early return, which closes the channels for the senders left in the context.
[[nodiscard]] HRESULT run_sensor(ClientContext& context, const Runtime& runtime,
                                 std::uint64_t cookie, channel::Receiver<StopMessage> stop_rx,
                                 channel::Receiver<PhoneEvent> phone_rx, OwnSensor& own) {
    auto manager = runtime.sensors->create_manager();
    if (!manager) {
        kLog.error("Failed to create sensor manager: {}", manager.error());
        return hr::unexpected;
    }
    std::shared_ptr<sensors::SensorManager> shared_manager = std::move(*manager);
    own.manager = shared_manager;
    context.sensor_manager.set(std::move(shared_manager));

    std::shared_ptr<sensors::SensorSubscription> subscription;
    auto [sensor_tx, sensor_rx] = channel::bounded<SensorMessage>(kSensorQueueCapacity);
    const bool simulated = simulation_mode(context);
    if (simulated)
        kLog.info("Simulation mode, skip sensor registration");
    auto current_manager = context.sensor_manager.get();
    if (!current_manager) {
        kLog.error("Sensor manager not initialized");
        return hr::unexpected;
    }
    if (!simulated) {
        auto subscribed = current_manager->subscribe(
            sensors::tap_sensor::kSensorId,
            make_sensor_callbacks(sensor_tx, context.dropped_sensor_reports));
        if (!subscribed) {
            kLog.error("Failed to find Vextora sensor: {}", subscribed.error());
            return hr::unexpected;
        }
        subscription = std::move(*subscribed);
    }
    // In simulation the loop must never receive a sensor message: no sender survives.
    {
        auto released = std::move(sensor_tx);
    }
    current_manager.reset();

    own.subscription = subscription;
    context.sensor_subscription.set(nullptr);
    context.sensor_subscription.set(std::move(subscription));

    sensor_loop(*runtime.clock,
                SensorLoopInputs{
                    .callback_cookie = cookie,
                    .settings = context.settings,
                    .ignore_unidentified_clients = context.ignore_unidentified_clients,
                    .tap_strength = context.tap_strength,
                    .client_id = context.client_id,
                    .stop = std::move(stop_rx),
                    .phone_events = std::move(phone_rx),
                    .sensor_messages = std::move(sensor_rx),
                });

    if (!simulation_mode(context))
        clear_if_own(context.sensor_subscription, own.subscription);
    kLog.info("End of the CorvaneRegisterToEvent()");
    return hr::ok;
}

}  // namespace

HRESULT NorvoStartSensor(ClientContext& context, std::uint64_t cookie) {
    connected_user_count.fetch_add(1);
    kLog.info("NorvoStartSensor() called");
    const auto runtime = RUNTIME_HANDLE.get();
    if (!runtime)
        fatal("RUNTIME_HANDLE must be initialized");

    if (auto com = runtime->com->initialize(); !com) {
        kLog.error("Failed to initialize COM: {}", com.error());
        connected_user_count.fetch_sub(1);
        return hr::unexpected;
    }
    // Our own reference: RemoteClose may destroy the context the moment the gate opens.
    const auto gate = context.processing_gate;
    gate->enter();

    auto [stop_tx, stop_rx] = channel::bounded<StopMessage>(1);
    context.stop_sender.set(std::move(stop_tx));
    auto [phone_tx, phone_rx] = channel::bounded<PhoneEvent>(10);
    context.phone_event_sender.set(std::move(phone_tx));
    context.callback_cookie.set(cookie);

    OwnSensor own;
    const HRESULT result =
        run_sensor(context, *runtime, cookie, std::move(stop_rx), std::move(phone_rx), own);

    kLog.info("End of the NorvoStartSensor() called, result: {:#x}",
              static_cast<std::uint32_t>(result));
    if (result != hr::ok && SafeNorvoSignalReturn(result, cookie) > 0) {
        kLog.error("Rpc call SafeNorvoSignalReturn failed");
    }
    clear_if_own(context.sensor_subscription, own.subscription);
    clear_if_own(context.sensor_manager, own.manager);
    connected_user_count.fetch_sub(1);
    gate->leave();  // the context may be gone from here on
    runtime->com->uninitialize();
    return result;
}

}  // namespace norvo::service
