#include "norvo/host/control_decoder.hpp"

#include "norvo/host/service_control.hpp"

#include <array>
#include <cstring>

namespace norvo::host {
namespace {

static_assert(sizeof(Guid) == 16);

template <class T>
T read(const void* data, std::size_t offset = 0) {
    T value;
    std::memcpy(&value, static_cast<const std::byte*>(data) + offset, sizeof(T));
    return value;
}

// An enumeration stored as the setting's first 32-bit value, numbered from 0 in `valid` order.
template <class Enum, std::size_t N>
std::optional<PowerSetting> pick(std::uint32_t value, const std::array<std::uint32_t, N>& valid) {
    for (std::size_t i = 0; i < N; ++i) {
        if (valid[i] == value)
            return PowerSetting{static_cast<Enum>(i)};
    }
    return std::nullopt;
}

// POWERBROADCAST_SETTING: the setting GUID, a 32-bit data length, then the data.
std::optional<PowerSetting> decode_power_setting(const void* data) {
    namespace ps = power_setting;
    constexpr std::size_t kDataOffset = 20;
    const auto setting = read<Guid>(data);
    const auto length = read<std::uint32_t>(data, 16);
    if (setting == ps::kIdleBackgroundTask)
        return IdleBackgroundTask{};
    if (setting == ps::kPowerSchemePersonality) {
        if (length < sizeof(Guid))
            return std::nullopt;
        const auto scheme = read<Guid>(data, kDataOffset);
        if (scheme == ps::kMinPowerSavings)
            return PowerSchemePersonality::HighPerformance;
        if (scheme == ps::kMaxPowerSavings)
            return PowerSchemePersonality::PowerSaver;
        if (scheme == ps::kTypicalPowerSavings)
            return PowerSchemePersonality::Automatic;
        return std::nullopt;
    }
    if (length < sizeof(std::uint32_t))
        return std::nullopt;
    const auto value = read<std::uint32_t>(data, kDataOffset);
    if (setting == ps::kAcdcPowerSource)
        return pick<AcdcPowerSource>(value, std::array<std::uint32_t, 3>{0, 1, 2});
    if (setting == ps::kBatteryPercentageRemaining)
        return BatteryPercentageRemaining{value};
    if (setting == ps::kConsoleDisplayState) {
        return pick<ConsoleDisplayState>(value, std::array<std::uint32_t, 3>{0, 1, 2});
    }
    if (setting == ps::kGlobalUserPresence)
        return pick<GlobalUserPresence>(value, std::array<std::uint32_t, 2>{0, 2});
    if (setting == ps::kMonitorPowerOn) {
        if (value > 1)
            return std::nullopt;
        return MonitorPowerOn{value == 1};
    }
    if (setting == ps::kPowerSavingStatus)
        return pick<PowerSavingStatus>(value, std::array<std::uint32_t, 2>{0, 1});
    if (setting == ps::kSystemAwayMode)
        return pick<SystemAwayMode>(value, std::array<std::uint32_t, 2>{0, 1});
    if (setting == ps::kLidSwitchStateChange) {
        return pick<LidSwitchStateChange>(value, std::array<std::uint32_t, 2>{0, 1});
    }
    return std::nullopt;
}

std::optional<PowerEvent> decode_power_event(std::uint32_t event_type, const void* data) {
    switch (event_type) {
        case power_broadcast::query_suspend:
            return PowerEvent{PowerBroadcast::QuerySuspend};
        case power_broadcast::query_suspend_failed:
            return PowerEvent{PowerBroadcast::QuerySuspendFailed};
        case power_broadcast::suspend:
            return PowerEvent{PowerBroadcast::Suspend};
        case power_broadcast::resume_critical:
            return PowerEvent{PowerBroadcast::ResumeCritical};
        case power_broadcast::resume_suspend:
            return PowerEvent{PowerBroadcast::ResumeSuspend};
        case power_broadcast::battery_low:
            return PowerEvent{PowerBroadcast::BatteryLow};
        case power_broadcast::power_status_change:
            return PowerEvent{PowerBroadcast::PowerStatusChange};
        case power_broadcast::oem_event:
            return PowerEvent{PowerBroadcast::OemEvent};
        case power_broadcast::resume_automatic:
            return PowerEvent{PowerBroadcast::ResumeAutomatic};
        case power_broadcast::power_setting_change: {
            if (!data)
                return std::nullopt;
            auto setting = decode_power_setting(data);
            if (!setting)
                return std::nullopt;
            return PowerEvent{PowerSettingChange{*setting}};
        }
        default:
            return std::nullopt;
    }
}

// WTSSESSION_NOTIFICATION: two 32-bit words, size and session id.
std::optional<SessionChangeParam> decode_session_change(std::uint32_t event_type,
                                                        const void* data) {
    if (event_type < session_change::first || event_type > session_change::last || !data)
        return std::nullopt;
    return SessionChangeParam{static_cast<SessionChangeReason>(event_type),
                              {read<std::uint32_t>(data), read<std::uint32_t>(data, 4)}};
}

template <class T>
std::optional<ControlEvent> wrap(std::optional<T> payload) {
    if (!payload)
        return std::nullopt;
    return ControlEvent{std::move(*payload)};
}

}  // namespace

std::optional<ControlEvent> decode_control(std::uint32_t code, std::uint32_t event_type,
                                           const void* event_data) {
    switch (code) {
        case control::stop:
            return ControlEvent{PlainControl::Stop};
        case control::pause:
            return ControlEvent{PlainControl::Pause};
        case control::continue_:
            return ControlEvent{PlainControl::Continue};
        case control::interrogate:
            return ControlEvent{PlainControl::Interrogate};
        case control::shutdown:
            return ControlEvent{PlainControl::Shutdown};
        case control::param_change:
            return ControlEvent{PlainControl::ParamChange};
        case control::netbind_add:
            return ControlEvent{PlainControl::NetBindAdd};
        case control::netbind_remove:
            return ControlEvent{PlainControl::NetBindRemove};
        case control::netbind_enable:
            return ControlEvent{PlainControl::NetBindEnable};
        case control::netbind_disable:
            return ControlEvent{PlainControl::NetBindDisable};
        case control::hardware_profile_change:
            if (event_type < hardware_profile::query_change_config ||
                event_type > hardware_profile::config_change_canceled)
                return std::nullopt;
            return ControlEvent{static_cast<HardwareProfileChange>(
                event_type - hardware_profile::query_change_config)};
        case control::power_event:
            return wrap(decode_power_event(event_type, event_data));
        case control::session_change:
            return wrap(decode_session_change(event_type, event_data));
        case control::preshutdown:
            return ControlEvent{PlainControl::Preshutdown};
        case control::time_change:
            return ControlEvent{PlainControl::TimeChange};
        case control::trigger_event:
            return ControlEvent{PlainControl::TriggerEvent};
        default:
            if (code >= control::user_first && code <= control::user_last)
                return ControlEvent{UserEventCode{code}};
            return std::nullopt;
    }
}

}  // namespace norvo::host
