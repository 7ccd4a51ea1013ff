#pragma once
// Service control events as the control handler hands them to the run loop,
// and their text forms in log lines.

#include <fmt/format.h>

#include <cstdint>
#include <variant>

namespace norvo::host {

enum class PlainControl : std::uint8_t {
    Continue,
    Interrogate,
    NetBindAdd,
    NetBindDisable,
    NetBindEnable,
    NetBindRemove,
    ParamChange,
    Pause,
    Preshutdown,
    Shutdown,
    Stop,
    TimeChange,
    TriggerEvent,
};

enum class HardwareProfileChange : std::uint8_t {
    QueryChangeConfig,
    ConfigChanged,
    ConfigChangeCanceled
};

// Power settings, named as the forms of PowerSettingChange.
enum class AcdcPowerSource : std::uint8_t { Ac, Dc, Hot };
struct BatteryPercentageRemaining {
    std::uint32_t percent;
    friend bool operator==(const BatteryPercentageRemaining&,
                           const BatteryPercentageRemaining&) = default;
};
enum class ConsoleDisplayState : std::uint8_t { Off, On, Dimmed };
enum class GlobalUserPresence : std::uint8_t { Present, Inactive };
struct IdleBackgroundTask {
    friend bool operator==(const IdleBackgroundTask&, const IdleBackgroundTask&) = default;
};
struct MonitorPowerOn {
    bool on;
    friend bool operator==(const MonitorPowerOn&, const MonitorPowerOn&) = default;
};
enum class PowerSavingStatus : std::uint8_t { Off, On };
enum class PowerSchemePersonality : std::uint8_t { HighPerformance, PowerSaver, Automatic };
enum class SystemAwayMode : std::uint8_t { Exiting, Entering };
enum class LidSwitchStateChange : std::uint8_t { Closed, Open };

using PowerSetting =
    std::variant<AcdcPowerSource, BatteryPercentageRemaining, ConsoleDisplayState,
                 GlobalUserPresence, IdleBackgroundTask, MonitorPowerOn, PowerSavingStatus,
                 PowerSchemePersonality, SystemAwayMode, LidSwitchStateChange>;

struct PowerSettingChange {
    PowerSetting setting;
    friend bool operator==(const PowerSettingChange&, const PowerSettingChange&) = default;
};

enum class PowerBroadcast : std::uint8_t {
    PowerStatusChange,
    ResumeAutomatic,
    ResumeSuspend,
    Suspend,
    BatteryLow,
    OemEvent,
    QuerySuspend,
    QuerySuspendFailed,
    ResumeCritical,
};

struct PowerEvent {
    std::variant<PowerBroadcast, PowerSettingChange> kind;
    friend bool operator==(const PowerEvent&, const PowerEvent&) = default;
};

// Numbers as the platform's session-change event types.
enum class SessionChangeReason : std::uint8_t {
    ConsoleConnect = 1,
    ConsoleDisconnect,
    RemoteConnect,
    RemoteDisconnect,
    SessionLogon,
    SessionLogoff,
    SessionLock,
    SessionUnlock,
    SessionRemoteControl,
    SessionCreate,
    SessionTerminate,
};

struct SessionNotification {
    std::uint32_t size;
    std::uint32_t session_id;
    friend bool operator==(const SessionNotification&, const SessionNotification&) = default;
};

struct SessionChangeParam {
    SessionChangeReason reason;
    SessionNotification notification;
    friend bool operator==(const SessionChangeParam&, const SessionChangeParam&) = default;
};

struct UserEventCode {
    std::uint32_t code;  // 128 to 255
    friend bool operator==(const UserEventCode&, const UserEventCode&) = default;
};

struct ControlEvent {
    // Rendered as HardwareProfileChange(..), PowerEvent(..), SessionChange(..), UserEvent(..).
    std::variant<PlainControl, HardwareProfileChange, PowerEvent, SessionChangeParam, UserEventCode>
        value;
    friend bool operator==(const ControlEvent&, const ControlEvent&) = default;
};

}  // namespace norvo::host

// PowerSettingChange(ConsoleDisplayState(Dimmed))
template <>
struct fmt::formatter<norvo::host::PowerEvent> : fmt::formatter<std::string_view> {
    format_context::iterator format(const norvo::host::PowerEvent& e, format_context& ctx) const;
};

// SessionChangeParam { reason: SessionLogon, notification: SessionNotification { size: 8,
// session_id: 2 } }
template <>
struct fmt::formatter<norvo::host::SessionChangeParam> : fmt::formatter<std::string_view> {
    format_context::iterator format(const norvo::host::SessionChangeParam& p,
                                    format_context& ctx) const;
};

// Stop, UserEvent(UserEventCode(130)), PowerEvent(Suspend), ...
template <>
struct fmt::formatter<norvo::host::ControlEvent> : fmt::formatter<std::string_view> {
    format_context::iterator format(const norvo::host::ControlEvent& e, format_context& ctx) const;
};
