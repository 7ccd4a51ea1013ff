#include "norvo/tools/callback_text.hpp"

#include <fmt/format.h>

#include "norvo/sensors/types.hpp"

namespace norvo::tools {

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

std::string sensor_state_text(std::uint16_t state) {
    if (auto known = sensors::sensor_state_from_platform(state)) {
        return std::string(sensors::sensor_state_name(*known));
    }
    return std::to_string(state);
}

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
    return fmt::format("{:02X}", fmt::join(bytes, " "));
}

std::string tap_event_line(std::int32_t kind, std::uint64_t timestamp, std::uint64_t cookie) {
    return fmt::format("TapEvent {} ts={} cookie={}", tap_kind_name(kind), timestamp, cookie);
}

std::string send_client_event_line(std::span<const std::uint8_t> packet, std::uint64_t cookie) {
    return fmt::format("SendClientEvent {} cookie={}", hex_bytes(packet), cookie);
}

std::string sensor_state_changed_line(std::uint64_t timestamp, std::uint16_t state,
                                      std::uint64_t cookie) {
    return fmt::format("SensorStateChanged ts={} state={} cookie={}", timestamp,
                       sensor_state_text(state), cookie);
}

std::string signal_return_line(std::int32_t status, std::uint64_t cookie) {
    return fmt::format("SignalReturn {} cookie={}", result_code(status), cookie);
}

std::string result_code(std::int32_t value) {
    return fmt::format("{:#x}", static_cast<std::uint32_t>(value));
}

}  // namespace norvo::tools
