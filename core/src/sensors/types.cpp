#include "norvo/sensors/types.hpp"

#include "norvo/sensors/tap_sensor.hpp"

namespace norvo::sensors {

std::string_view sensor_state_name(SensorState state) {
    switch (state) {
        case SensorState::SensorStateReady:
            return "SensorStateReady";
        case SensorState::SensorStateNotAvailable:
            return "SensorStateNotAvailable";
        case SensorState::SensorStateNoData:
            return "SensorStateNoData";
        case SensorState::SensorStateInitializing:
            return "SensorStateInitializing";
        case SensorState::SensorStateAccessDenied:
            return "SensorStateAccessDenied";
        case SensorState::SensorStateError:
            return "SensorStateError";
    }
    return "SensorStateUnknown";
}

std::optional<SensorState> sensor_state_from_platform(std::int32_t value) {
    if (value < 0 || value > 5)
        return std::nullopt;
    return static_cast<SensorState>(value);
}

SensorValueType value_type_from_platform(std::uint16_t type_code) {
    switch (type_code) {
        case 0:
            return SensorValueType::Empty;
        case 2:
            return SensorValueType::I2;
        case 3:
            return SensorValueType::I4;
        case 4:
            return SensorValueType::R4;
        case 5:
            return SensorValueType::R8;
        case 18:
            return SensorValueType::UI2;
        case 19:
            return SensorValueType::UI4;
        default:
            return SensorValueType::Null;
    }
}

std::string_view value_type_name(SensorValueType type) {
    switch (type) {
        case SensorValueType::Empty:
            return "Empty";
        case SensorValueType::Null:
            return "Null";
        case SensorValueType::I2:
            return "I2";
        case SensorValueType::I4:
            return "I4";
        case SensorValueType::R4:
            return "R4";
        case SensorValueType::R8:
            return "R8";
        case SensorValueType::UI2:
            return "UI2";
        case SensorValueType::UI4:
            return "UI4";
    }
    return "Null";
}

// By position alone: the second field's lowest byte is the tap flag.
std::optional<bool> decode_tap(const std::vector<SensorField>& fields) {
    if (fields.size() < tap_sensor::kMinimumFieldCount)
        return std::nullopt;
    const SensorField& flag = fields[tap_sensor::kTapFieldIndex];
    if (flag.value_type != SensorValueType::UI4 || flag.value.empty())
        return std::nullopt;
    return flag.value[0] != 0;
}

}  // namespace norvo::sensors
