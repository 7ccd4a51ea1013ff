#include "norvo/host/failure_actions.hpp"

#include <fmt/format.h>

#include <limits>

namespace norvo::host {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

std::optional<std::u16string> text_or_none(const char16_t* text) {
    if (!text)
        return std::nullopt;
    return std::u16string(text);
}

template <class Duration>
[[nodiscard]] std::expected<std::uint32_t, HostError> to_u32(Duration value,
                                                             std::string_view what) {
    if (value.count() < 0 || value.count() > std::numeric_limits<std::uint32_t>::max()) {
        return std::unexpected(HostError(fmt::format("{} out of range: {}", what, value.count())));
    }
    return static_cast<std::uint32_t>(value.count());
}

}  // namespace

std::expected<FailureActions, HostError> decode_failure_actions(const RawFailureActions& raw) {
    FailureActions decoded;
    if (raw.reset_period != kResetNever)
        decoded.reset_period = seconds(raw.reset_period);
    decoded.reboot_message = text_or_none(raw.reboot_message);
    decoded.command = text_or_none(raw.command);
    if (raw.actions) {
        for (std::uint32_t i = 0; i < raw.action_count; ++i) {
            const auto& action = raw.actions[i];
            if (action.type > static_cast<std::uint32_t>(ActionType::RunCommand)) {
                return std::unexpected(
                    HostError(fmt::format("Invalid failure action type: {}", action.type)));
            }
            decoded.actions.push_back(
                {static_cast<ActionType>(action.type), milliseconds(action.delay_ms)});
        }
    }
    return decoded;
}

FailureActions recovery_actions(const FailureActions& current) {
    constexpr milliseconds kDelay = seconds(60);
    return FailureActions{
        .reset_period = seconds(120),
        .reboot_message = current.reboot_message,
        .command = current.command,
        .actions = {{ActionType::Restart, kDelay},
                    {ActionType::Restart, kDelay},
                    {ActionType::None, kDelay}},
    };
}

std::expected<EncodedFailureActions, HostError> encode_failure_actions(
    const FailureActions& actions) {
    EncodedFailureActions encoded{kResetNever, actions.reboot_message, actions.command, {}};
    if (actions.reset_period) {
        auto period = to_u32(*actions.reset_period, "reset period");
        if (!period)
            return std::unexpected(period.error());
        encoded.reset_period = *period;
    }
    for (const auto& action : actions.actions) {
        auto delay = to_u32(action.delay, "action delay");
        if (!delay)
            return std::unexpected(delay.error());
        encoded.actions.push_back({static_cast<std::uint32_t>(action.type), *delay});
    }
    return encoded;
}

}  // namespace norvo::host
