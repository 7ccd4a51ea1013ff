#include "norvo/host/control_decoder.hpp"

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
        case 0x0:
            return PowerEvent{PowerBroadcast::QuerySuspend};
        case 0x2:
            return PowerEvent{PowerBroadcast::QuerySuspendFailed};
        case 0x4:
            return PowerEvent{PowerBroadcast::Suspend};
        case 0x6:
            return PowerEvent{PowerBroadcast::ResumeCritical};
        case 0x7:
            return PowerEvent{PowerBroadcast::ResumeSuspend};
        case 0x9:
            return PowerEvent{PowerBroadcast::BatteryLow};
        case 0xA:
            return PowerEvent{PowerBroadcast::PowerStatusChange};
        case 0xB:
            return PowerEvent{PowerBroadcast::OemEvent};
        case 0x12:
            return PowerEvent{PowerBroadcast::ResumeAutomatic};
        case 0x8013: {
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
    if (event_type < 1 || event_type > 11 || !data)
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

std::optional<ControlEvent> decode_control(std::uint32_t control, std::uint32_t event_type,
                                           const void* event_data) {
    switch (control) {
        case 1:
            return ControlEvent{PlainControl::Stop};
        case 2:
            return ControlEvent{PlainControl::Pause};
        case 3:
            return ControlEvent{PlainControl::Continue};
        case 4:
            return ControlEvent{PlainControl::Interrogate};
        case 5:
            return ControlEvent{PlainControl::Shutdown};
        case 6:
            return ControlEvent{PlainControl::ParamChange};
        case 7:
            return ControlEvent{PlainControl::NetBindAdd};
        case 8:
            return ControlEvent{PlainControl::NetBindRemove};
        case 9:
            return ControlEvent{PlainControl::NetBindEnable};
        case 10:
            return ControlEvent{PlainControl::NetBindDisable};
        case 12:
            if (event_type < 0x17 || event_type > 0x19)
                return std::nullopt;
            return ControlEvent{static_cast<HardwareProfileChange>(event_type - 0x17)};
        case 13:
            return wrap(decode_power_event(event_type, event_data));
        case 14:
            return wrap(decode_session_change(event_type, event_data));
        case 15:
            return ControlEvent{PlainControl::Preshutdown};
        case 16:
            return ControlEvent{PlainControl::TimeChange};
        case 32:
            return ControlEvent{PlainControl::TriggerEvent};
        default:
            if (control >= 128 && control <= 255)
                return ControlEvent{UserEventCode{control}};
            return std::nullopt;
    }
}

}  // namespace norvo::host
