#include "norvo/windows/sensors_pending.hpp"

namespace norvo::windows {

std::expected<std::unique_ptr<sensors::SensorManager>, sensors::SensorError>
SensorsPending::create_manager() {
    constexpr std::int32_t kNotImplemented = static_cast<std::int32_t>(0x80004001);  // E_NOTIMPL
    return std::unexpected(sensors::SensorError{
        sensors::SensorError::Kind::Win32,
        {kNotImplemented, "The Sensor API library is not part of this build yet"},
    });
}

}  // namespace norvo::windows
