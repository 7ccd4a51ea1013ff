#include "norvo/host/control_event.hpp"

#include <array>
#include <string_view>

namespace norvo::host {
namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};

template <class Enum, std::size_t N>
std::string_view name_of(Enum value, const std::array<std::string_view, N>& names,
                         std::size_t first = 0) {
    return names.at(static_cast<std::size_t>(value) - first);
}

constexpr std::array<std::string_view, 13> kPlainNames{
    "Continue",      "Interrogate", "NetBindAdd",   "NetBindDisable", "NetBindEnable",
    "NetBindRemove", "ParamChange", "Pause",        "Preshutdown",    "Shutdown",
    "Stop",          "TimeChange",  "TriggerEvent",
};
constexpr std::array<std::string_view, 3> kHardwareProfileNames{
    "QueryChangeConfig", "ConfigChanged", "ConfigChangeCanceled"};
constexpr std::array<std::string_view, 9> kBroadcastNames{
    "PowerStatusChange", "ResumeAutomatic", "ResumeSuspend",      "Suspend",        "BatteryLow",
    "OemEvent",          "QuerySuspend",    "QuerySuspendFailed", "ResumeCritical",
};
constexpr std::array<std::string_view, 11> kReasonNames{
    "ConsoleConnect",       "ConsoleDisconnect", "RemoteConnect",    "RemoteDisconnect",
    "SessionLogon",         "SessionLogoff",     "SessionLock",      "SessionUnlock",
    "SessionRemoteControl", "SessionCreate",     "SessionTerminate",
};

auto format_setting(const PowerSetting& setting, fmt::format_context::iterator out) {
    return std::visit(
        Overloaded{
            [&](AcdcPowerSource v) {
                return fmt::format_to(
                    out, "AcdcPowerSource({})",
                    name_of(v, std::array<std::string_view, 3>{"Ac", "Dc", "Hot"}));
            },
            [&](BatteryPercentageRemaining v) {
                return fmt::format_to(out, "BatteryPercentageRemaining({})", v.percent);
            },
            [&](ConsoleDisplayState v) {
                return fmt::format_to(
                    out, "ConsoleDisplayState({})",
                    name_of(v, std::array<std::string_view, 3>{"Off", "On", "Dimmed"}));
            },
            [&](GlobalUserPresence v) {
                return fmt::format_to(
                    out, "GlobalUserPresence({})",
                    name_of(v, std::array<std::string_view, 2>{"Present", "Inactive"}));
            },
            [&](IdleBackgroundTask) { return fmt::format_to(out, "IdleBackgroundTask"); },
            [&](MonitorPowerOn v) { return fmt::format_to(out, "MonitorPowerOn({})", v.on); },
            [&](PowerSavingStatus v) {
                return fmt::format_to(out, "PowerSavingStatus({})",
                                      name_of(v, std::array<std::string_view, 2>{"Off", "On"}));
            },
            [&](PowerSchemePersonality v) {
                return fmt::format_to(
                    out, "PowerSchemePersonality({})",
                    name_of(v, std::array<std::string_view, 3>{"HighPerformance", "PowerSaver",
                                                               "Automatic"}));
            },
            [&](SystemAwayMode v) {
                return fmt::format_to(
                    out, "SystemAwayMode({})",
                    name_of(v, std::array<std::string_view, 2>{"Exiting", "Entering"}));
            },
            [&](LidSwitchStateChange v) {
                return fmt::format_to(
                    out, "LidSwitchStateChange({})",
                    name_of(v, std::array<std::string_view, 2>{"Closed", "Open"}));
            },
        },
        setting);
}

}  // namespace
}  // namespace norvo::host

using namespace norvo::host;

fmt::format_context::iterator fmt::formatter<PowerEvent>::format(const PowerEvent& e,
                                                                 format_context& ctx) const {
    return std::visit(Overloaded{
                          [&](PowerBroadcast b) {
                              return fmt::format_to(ctx.out(), "{}", name_of(b, kBroadcastNames));
                          },
                          [&](const PowerSettingChange& change) {
                              auto out = fmt::format_to(ctx.out(), "PowerSettingChange(");
                              out = format_setting(change.setting, out);
                              return fmt::format_to(out, ")");
                          },
                      },
                      e.kind);
}

fmt::format_context::iterator fmt::formatter<SessionChangeParam>::format(
    const SessionChangeParam& p, format_context& ctx) const {
    return fmt::format_to(
        ctx.out(),
        "SessionChangeParam {{ reason: {}, notification: SessionNotification {{ size: {}, "
        "session_id: {} }} }}",
        name_of(p.reason, kReasonNames, 1), p.notification.size, p.notification.session_id);
}

fmt::format_context::iterator fmt::formatter<ControlEvent>::format(const ControlEvent& e,
                                                                   format_context& ctx) const {
    return std::visit(
        Overloaded{
            [&](PlainControl c) {
                return fmt::format_to(ctx.out(), "{}", name_of(c, kPlainNames));
            },
            [&](HardwareProfileChange c) {
                return fmt::format_to(ctx.out(), "HardwareProfileChange({})",
                                      name_of(c, kHardwareProfileNames));
            },
            [&](const PowerEvent& p) { return fmt::format_to(ctx.out(), "PowerEvent({})", p); },
            [&](const SessionChangeParam& p) {
                return fmt::format_to(ctx.out(), "SessionChange({})", p);
            },
            [&](UserEventCode c) {
                return fmt::format_to(ctx.out(), "UserEvent(UserEventCode({}))", c.code);
            },
        },
        e.value);
}
