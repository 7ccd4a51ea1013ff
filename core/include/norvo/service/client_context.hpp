#pragma once
// Per-client state behind a context handle, and the two process-wide values.

#include "norvo/cell.hpp"
#include "norvo/channel.hpp"
#include "norvo/sensors/sensor_library.hpp"
#include "norvo/service/processing_gate.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace norvo::service {

struct TapSettings {
    std::string version = "1000.113.114.9593";
    std::uint32_t confirmation_range = 500;  // ms
    bool debug_mode = false;
    bool simulation_mode = false;
    bool forward_confirm_tap = false;
    bool enable_unconfirmed_taps = false;
};

struct StopMessage {};

struct PhoneEvent {
    std::optional<float> pulse;
};

// Fields that a start call writes while other calls read them sit in cells too:
// the RPC runtime runs calls on one handle concurrently.
struct ClientContext {
    // Default settings, no tap strength and no client id yet, an idle gate, and the
    // process-wide switch; the shared cells stay the same for the context's life.
    ClientContext();

    Cell<std::optional<std::uint64_t>> callback_cookie;
    const SharedCell<bool> ignore_unidentified_clients;
    const SharedCell<TapSettings> settings;
    const std::shared_ptr<ProcessingGate> processing_gate;
    const SharedCell<std::optional<float>> tap_strength;
    const SharedCell<std::optional<std::string>> client_id;
    Cell<std::shared_ptr<sensors::SensorManager>>
        sensor_manager;  // shared only to call it unlocked
    // Shared only so that a start can tell its own from a later start's; the context owns it.
    Cell<std::shared_ptr<sensors::SensorSubscription>> sensor_subscription;
    Cell<std::optional<channel::Sender<StopMessage>>> stop_sender;
    Cell<std::optional<channel::Sender<PhoneEvent>>> phone_event_sender;
    // Sensor reports dropped because a run's queue was full, over all runs; shared
    // with the sensor callables, which the platform may hold after the context is gone.
    std::shared_ptr<std::atomic<std::uint64_t>> dropped_sensor_reports =
        std::make_shared<std::atomic<std::uint64_t>>(0);
};

// Created on first use, exactly once even when first opens race, and never destroyed.
SharedCell<bool> process_ignore_unidentified_clients();

// NorvoStartSensor calls in progress.
extern std::atomic<std::int32_t> connected_user_count;

}  // namespace norvo::service
