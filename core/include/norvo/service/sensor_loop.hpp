#pragma once
// The sensor loop: turns sensor reports and phone events into taps, matches
// them, and reports to the client. Runs on the thread of a NorvoStartSensor call.

#include "norvo/cell.hpp"
#include "norvo/channel.hpp"
#include "norvo/clock.hpp"
#include "norvo/sensors/types.hpp"
#include "norvo/service/client_context.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace norvo::service {

enum class TapKind : std::int32_t {
    Confirmed = 1,
    LaptopTap = 2,
    PhoneTap = 3,
    UnconfirmedTap = 4,
};

struct SensorLoopInputs {
    std::uint64_t callback_cookie = 0;
    SharedCell<TapSettings> settings;
    SharedCell<bool> ignore_unidentified_clients;
    SharedCell<std::optional<float>> tap_strength;
    SharedCell<std::optional<std::string>> client_id;
    channel::Receiver<StopMessage> stop;
    channel::Receiver<PhoneEvent> phone_events;
    channel::Receiver<sensors::SensorMessage> sensor_messages;
};

// Returns once stopped (a stop message, or the stop channel closed).
void sensor_loop(Clock& clock, SensorLoopInputs inputs);

}  // namespace norvo::service
