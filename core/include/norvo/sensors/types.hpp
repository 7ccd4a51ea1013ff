#pragma once
// Plain sensor value types shared by the sensor library and the service.

#include "norvo/guid.hpp"

#include <fmt/format.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

namespace norvo::sensors {

// Numbers as in the platform's SensorState enumeration.
enum class SensorState : std::uint8_t {
    SensorStateReady = 0,
    SensorStateNotAvailable = 1,
    SensorStateNoData = 2,
    SensorStateInitializing = 3,
    SensorStateAccessDenied = 4,
    SensorStateError = 5,
};

std::string_view sensor_state_name(SensorState state);
std::optional<SensorState> sensor_state_from_platform(std::int32_t value);

// Numbers are the platform's PROPVARIANT type codes; unlisted codes map to Null.
enum class SensorValueType : std::uint8_t {
    Empty = 0,
    Null = 1,
    I2 = 2,
    I4 = 3,
    R4 = 4,
    R8 = 5,
    UI2 = 18,
    UI4 = 19,
};

SensorValueType value_type_from_platform(std::uint16_t type_code);
std::string_view value_type_name(SensorValueType type);

struct PropertyKey {
    Guid fmtid;
    std::uint32_t pid;

    friend bool operator==(const PropertyKey&, const PropertyKey&) = default;
};

struct SensorField {
    // The first 8 bytes of the value area as they lie in memory; empty in a template field.
    std::vector<std::uint8_t> value;
    PropertyKey key{};
    SensorValueType value_type = SensorValueType::Empty;
};

// The tap flag of one data report, or nothing when the report cannot be decoded.
std::optional<bool> decode_tap(const std::vector<SensorField>& fields);

// Called from any platform thread, also at the same time.
struct SensorCallbacks {
    std::function<void(SensorState)> on_state_changed;
    std::function<void(std::vector<SensorField>)> on_data_updated;
    std::function<void()> on_left;
    std::function<void(SensorState)> on_entered;
};

namespace message {
struct DataUpdated {
    std::vector<SensorField> fields;
};
struct StateChanged {
    SensorState state;
};
struct Left {};
struct Entered {
    SensorState state;
};
}  // namespace message

using SensorMessage =
    std::variant<message::DataUpdated, message::StateChanged, message::Left, message::Entered>;

}  // namespace norvo::sensors

template <>
struct fmt::formatter<norvo::sensors::SensorState> : fmt::formatter<std::string_view> {
    auto format(norvo::sensors::SensorState s, format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(norvo::sensors::sensor_state_name(s), ctx);
    }
};

// PROPERTYKEY { fmtid: GUID, pid: N }
template <>
struct fmt::formatter<norvo::sensors::PropertyKey> : fmt::formatter<std::string_view> {
    auto format(const norvo::sensors::PropertyKey& k, format_context& ctx) const {
        return fmt::format_to(ctx.out(), "PROPERTYKEY {{ fmtid: {}, pid: {} }}", k.fmtid, k.pid);
    }
};
