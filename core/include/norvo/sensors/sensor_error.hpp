#pragma once
// Error kinds of the sensor library.

#include <fmt/format.h>

#include <cstdint>
#include <string>

namespace norvo::sensors {

// A failing platform call: its HRESULT and the system's message for it.
struct PlatformError {
    std::int32_t code;
    std::string message;
};

struct SensorError {
    enum class Kind : std::uint8_t {
        Win32 = 0,
        SensorNotFound = 1,
        InvalidSensorState = 2,
        SensorNotReady = 3,
        FailedToGetSensorFields = 4,
        AlreadySubscribed = 5,
    };
    Kind kind;
    PlatformError platform{};  // meaningful for Win32 only
};

}  // namespace norvo::sensors

// Error { code: HRESULT(0x80004005), message: "Unspecified error" }
template <>
struct fmt::formatter<norvo::sensors::PlatformError> : fmt::formatter<std::string_view> {
    format_context::iterator format(const norvo::sensors::PlatformError& e,
                                    format_context& ctx) const;
};

// The variant name; Win32 carries the platform error in parentheses.
template <>
struct fmt::formatter<norvo::sensors::SensorError> : fmt::formatter<std::string_view> {
    format_context::iterator format(const norvo::sensors::SensorError& e,
                                    format_context& ctx) const;
};
