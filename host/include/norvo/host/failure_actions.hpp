#pragma once
// The service's failure actions (recovery settings): decoding what the service
// control manager holds, the record the service writes, and its encoding.

#include <chrono>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "norvo/host/host_error.hpp"

namespace norvo::host {

// Numbers as the platform's action types.
enum class ActionType : std::uint32_t { None = 0, Restart = 1, Reboot = 2, RunCommand = 3 };

struct FailureAction {
    ActionType type;
    std::chrono::milliseconds delay;
    friend bool operator==(const FailureAction&, const FailureAction&) = default;
};

struct FailureActions {
    std::optional<std::chrono::seconds> reset_period;  // none: the failure count is never reset
    std::optional<std::u16string> reboot_message;
    std::optional<std::u16string> command;
    std::vector<FailureAction> actions;
    friend bool operator==(const FailureActions&, const FailureActions&) = default;
};

// The platform record's fields as the query leaves them; null pointers mean "none".
struct RawFailureAction {
    std::uint32_t type;
    std::uint32_t delay_ms;
    friend bool operator==(const RawFailureAction&, const RawFailureAction&) = default;
};
struct RawFailureActions {
    std::uint32_t reset_period;  // 0xFFFFFFFF: never
    const char16_t* reboot_message;
    const char16_t* command;
    std::uint32_t action_count;
    const RawFailureAction* actions;
};

inline constexpr std::uint32_t kResetNever = 0xFFFFFFFF;

[[nodiscard]] std::expected<FailureActions, HostError> decode_failure_actions(
    const RawFailureActions& raw);

// Reset after 120 s; restart, restart, none, each after 60 s; the reboot message and command kept.
FailureActions recovery_actions(const FailureActions& current);

// The record in the platform's units, owning its texts.
struct EncodedFailureActions {
    std::uint32_t reset_period;
    std::optional<std::u16string> reboot_message;
    std::optional<std::u16string> command;
    std::vector<RawFailureAction> actions;
};

// Fails when a delay does not fit 32-bit milliseconds.
[[nodiscard]] std::expected<EncodedFailureActions, HostError> encode_failure_actions(
    const FailureActions& actions);

}  // namespace norvo::host
