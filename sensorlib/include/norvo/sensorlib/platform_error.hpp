#pragma once
// Platform errors as the library reports them: an HRESULT with the system's message.

#include <fmt/format.h>

#include "norvo/sensorlib/com.hpp"
#include "norvo/sensors/sensor_error.hpp"

namespace norvo::sensorlib {

// The message is empty when the system has none for the code.
sensors::PlatformError platform_error(HRESULT code);

// The display form: the message with the code in parentheses, or the code alone.
struct Displayed {
    const sensors::PlatformError& error;
};

}  // namespace norvo::sensorlib

template <>
struct fmt::formatter<norvo::sensorlib::Displayed> : fmt::formatter<std::string_view> {
    format_context::iterator format(const norvo::sensorlib::Displayed& d,
                                    format_context& ctx) const;
};
