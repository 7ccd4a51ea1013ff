#include "norvo/replay/recording_callbacks.hpp"

#include "norvo/sensors/types.hpp"

#include <fmt/format.h>

namespace norvo::replay {
namespace {

// Numbers outside the known kinds and states are shown as they came.
std::string tap_kind_name(std::int32_t kind) {
    switch (kind) {
        case 1:
            return "Confirmed";
        case 2:
            return "LaptopTap";
        case 3:
            return "PhoneTap";
        case 4:
            return "UnconfirmedTap";
        default:
            return std::to_string(kind);
    }
}

std::string state_name(std::uint16_t state) {
    if (auto known = sensors::sensor_state_from_platform(state)) {
        return std::string(sensors::sensor_state_name(*known));
    }
    return std::to_string(state);
}

}  // namespace

service::CallbackResult RecordingCallbacks::tap_event(std::int32_t kind, std::uint64_t timestamp,
                                                      std::uint64_t cookie) {
    lines_.push_back(
        fmt::format("TapEvent {} ts={} cookie={}", tap_kind_name(kind), timestamp, cookie));
    return {};
}

service::CallbackResult RecordingCallbacks::send_client_event(std::span<const std::uint8_t> packet,
                                                              std::uint64_t cookie) {
    lines_.push_back(
        fmt::format("SendClientEvent {:02X} cookie={}", fmt::join(packet, " "), cookie));
    return {};
}

service::CallbackResult RecordingCallbacks::sensor_state_changed(std::uint64_t timestamp,
                                                                 std::uint16_t state,
                                                                 std::uint64_t cookie) {
    lines_.push_back(fmt::format("SensorStateChanged ts={} state={} cookie={}", timestamp,
                                 state_name(state), cookie));
    return {};
}

service::CallbackResult RecordingCallbacks::signal_return(std::int32_t status,
                                                          std::uint64_t cookie) {
    lines_.push_back(
        fmt::format("SignalReturn {:#x} cookie={}", static_cast<std::uint32_t>(status), cookie));
    return {};
}

}  // namespace norvo::replay
