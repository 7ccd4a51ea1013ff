#include "norvo/sensors/sensor_error.hpp"

#include "norvo/text.hpp"

using norvo::sensors::PlatformError;
using norvo::sensors::SensorError;

fmt::format_context::iterator fmt::formatter<PlatformError>::format(const PlatformError& e,
                                                                    format_context& ctx) const {
    return fmt::format_to(ctx.out(), "Error {{ code: HRESULT(0x{:08X}), message: {} }}",
                          static_cast<std::uint32_t>(e.code), norvo::Quoted{e.message});
}

fmt::format_context::iterator fmt::formatter<SensorError>::format(const SensorError& e,
                                                                  format_context& ctx) const {
    switch (e.kind) {
        case SensorError::Kind::Win32:
            return fmt::format_to(ctx.out(), "Win32({})", e.platform);
        case SensorError::Kind::SensorNotFound:
            return fmt::format_to(ctx.out(), "SensorNotFound");
        case SensorError::Kind::InvalidSensorState:
            return fmt::format_to(ctx.out(), "InvalidSensorState");
        case SensorError::Kind::SensorNotReady:
            return fmt::format_to(ctx.out(), "SensorNotReady");
        case SensorError::Kind::FailedToGetSensorFields:
            return fmt::format_to(ctx.out(), "FailedToGetSensorFields");
        case SensorError::Kind::AlreadySubscribed:
            return fmt::format_to(ctx.out(), "AlreadySubscribed");
    }
    return ctx.out();
}
