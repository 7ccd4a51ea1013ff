#include "norvo/windows/recovery.hpp"

#include "norvo/host/failure_actions.hpp"
#include "norvo/host/log_targets.hpp"
#include "norvo/windows/win32.hpp"

#include <vector>

namespace norvo::windows {
namespace {

using host::HostError;

constexpr DWORD kQueryBufferBytes = 8192;

class ScmFailureActions final : public FailureActionsAccess {
  public:
    explicit ScmFailureActions(SC_HANDLE service) : service_(service) {}
    bool query(BYTE* buffer, DWORD size, DWORD* needed) override {
        return QueryServiceConfig2W(service_, SERVICE_CONFIG_FAILURE_ACTIONS, buffer, size, needed);
    }
    bool change(SERVICE_FAILURE_ACTIONSW& actions) override {
        return ChangeServiceConfig2W(service_, SERVICE_CONFIG_FAILURE_ACTIONS, &actions);
    }

  private:
    SC_HANDLE service_;
};

const char16_t* as_utf16(const wchar_t* text) {
    return reinterpret_cast<const char16_t*>(text);
}

wchar_t* as_wide(std::optional<std::u16string>& text) {
    return text ? reinterpret_cast<wchar_t*>(text->data()) : nullptr;
}

[[nodiscard]] std::expected<host::FailureActions, HostError> decode(
    const SERVICE_FAILURE_ACTIONSW& record) {
    std::vector<host::RawFailureAction> actions;
    if (record.lpsaActions) {
        for (DWORD i = 0; i < record.cActions; ++i) {
            actions.push_back({static_cast<std::uint32_t>(record.lpsaActions[i].Type),
                               record.lpsaActions[i].Delay});
        }
    }
    return host::decode_failure_actions({record.dwResetPeriod, as_utf16(record.lpRebootMsg),
                                         as_utf16(record.lpCommand), record.cActions,
                                         record.lpsaActions ? actions.data() : nullptr});
}

[[nodiscard]] std::expected<void, HostError> write_failure_actions() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return std::unexpected(last_error());
    ServiceHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
    if (!service)
        return std::unexpected(last_error());
    ScmFailureActions access(service.get());
    return rewrite_failure_actions(access);
}

}  // namespace

[[nodiscard]] std::expected<void, HostError> rewrite_failure_actions(FailureActionsAccess& access) {
    // 8-byte elements keep the record's pointers aligned.
    std::vector<std::uint64_t> buffer(kQueryBufferBytes / sizeof(std::uint64_t));
    DWORD needed = 0;
    if (!access.query(reinterpret_cast<BYTE*>(buffer.data()), kQueryBufferBytes, &needed)) {
        return std::unexpected(last_error());
    }
    const auto current = decode(*reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data()));
    if (!current)
        return std::unexpected(current.error());

    auto encoded = host::encode_failure_actions(host::recovery_actions(*current));
    if (!encoded)
        return std::unexpected(encoded.error());
    std::vector<SC_ACTION> actions;
    for (const auto& action : encoded->actions) {
        actions.push_back({static_cast<SC_ACTION_TYPE>(action.type), action.delay_ms});
    }
    SERVICE_FAILURE_ACTIONSW record{encoded->reset_period, as_wide(encoded->reboot_message),
                                    as_wide(encoded->command), static_cast<DWORD>(actions.size()),
                                    actions.data()};
    if (!access.change(record))
        return std::unexpected(last_error());
    return {};
}

void configure_recovery() {
    if (auto written = write_failure_actions(); !written) {
        host::kHostLog.error(
            "Failed to set failure actions: {}. Service will continue but will not restart on "
            "crash.",
            written.error());
    }
}

}  // namespace norvo::windows
