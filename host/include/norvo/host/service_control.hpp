#pragma once
// The service control manager's numbers: control codes, event types, service
// states and accepted-control flags. Named apart from the platform's SERVICE_*
// macros so that this header can sit beside the Windows SDK headers.

#include <cstdint>

namespace norvo::host {

namespace control {
inline constexpr std::uint32_t stop = 1;
inline constexpr std::uint32_t pause = 2;
inline constexpr std::uint32_t continue_ = 3;
inline constexpr std::uint32_t interrogate = 4;
inline constexpr std::uint32_t shutdown = 5;
inline constexpr std::uint32_t param_change = 6;
inline constexpr std::uint32_t netbind_add = 7;
inline constexpr std::uint32_t netbind_remove = 8;
inline constexpr std::uint32_t netbind_enable = 9;
inline constexpr std::uint32_t netbind_disable = 10;
inline constexpr std::uint32_t hardware_profile_change = 12;
inline constexpr std::uint32_t power_event = 13;
inline constexpr std::uint32_t session_change = 14;
inline constexpr std::uint32_t preshutdown = 15;
inline constexpr std::uint32_t time_change = 16;
inline constexpr std::uint32_t trigger_event = 32;
inline constexpr std::uint32_t user_first = 128;  // codes a service defines for itself
inline constexpr std::uint32_t user_last = 255;
}  // namespace control

// Event types of a hardware profile change, in HardwareProfileChange order.
namespace hardware_profile {
inline constexpr std::uint32_t query_change_config = 0x17;
inline constexpr std::uint32_t config_changed = 0x18;
inline constexpr std::uint32_t config_change_canceled = 0x19;
}  // namespace hardware_profile

// Event types of a power event.
namespace power_broadcast {
inline constexpr std::uint32_t query_suspend = 0x0;
inline constexpr std::uint32_t query_suspend_failed = 0x2;
inline constexpr std::uint32_t suspend = 0x4;
inline constexpr std::uint32_t resume_critical = 0x6;
inline constexpr std::uint32_t resume_suspend = 0x7;
inline constexpr std::uint32_t battery_low = 0x9;
inline constexpr std::uint32_t power_status_change = 0xA;
inline constexpr std::uint32_t oem_event = 0xB;
inline constexpr std::uint32_t resume_automatic = 0x12;
inline constexpr std::uint32_t power_setting_change = 0x8013;
}  // namespace power_broadcast

// Event types of a session change: the reasons 1 to 11.
namespace session_change {
inline constexpr std::uint32_t first = 1;
inline constexpr std::uint32_t last = 11;
}  // namespace session_change

namespace service_type {
inline constexpr std::uint32_t own_process = 0x10;
}  // namespace service_type

namespace service_state {
inline constexpr std::uint32_t stopped = 1;
inline constexpr std::uint32_t running = 4;
inline constexpr std::uint32_t paused = 7;
}  // namespace service_state

// Flags of the controls a service accepts; the manager delivers no other.
namespace accept {
inline constexpr std::uint32_t stop = 0x1;
inline constexpr std::uint32_t pause_continue = 0x2;
inline constexpr std::uint32_t shutdown = 0x4;
inline constexpr std::uint32_t param_change = 0x8;
inline constexpr std::uint32_t netbind_change = 0x10;
inline constexpr std::uint32_t hardware_profile_change = 0x20;
inline constexpr std::uint32_t power_event = 0x40;
inline constexpr std::uint32_t session_change = 0x80;
inline constexpr std::uint32_t preshutdown = 0x100;
inline constexpr std::uint32_t time_change = 0x200;
inline constexpr std::uint32_t trigger_event = 0x400;
inline constexpr std::uint32_t all = 0x7FF;
}  // namespace accept

// Whether the manager delivers `code` to a service that accepts `accepted`.
// Interrogation and the service's own codes need no flag.
constexpr bool delivered(std::uint32_t code, std::uint32_t accepted) {
    switch (code) {
        case control::stop:
            return accepted & accept::stop;
        case control::pause:
        case control::continue_:
            return accepted & accept::pause_continue;
        case control::shutdown:
            return accepted & accept::shutdown;
        case control::param_change:
            return accepted & accept::param_change;
        case control::netbind_add:
        case control::netbind_remove:
        case control::netbind_enable:
        case control::netbind_disable:
            return accepted & accept::netbind_change;
        case control::hardware_profile_change:
            return accepted & accept::hardware_profile_change;
        case control::power_event:
            return accepted & accept::power_event;
        case control::session_change:
            return accepted & accept::session_change;
        case control::preshutdown:
            return accepted & accept::preshutdown;
        case control::time_change:
            return accepted & accept::time_change;
        case control::trigger_event:
            return accepted & accept::trigger_event;
        default:
            return true;
    }
}

}  // namespace norvo::host
