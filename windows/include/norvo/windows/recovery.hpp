#pragma once
// The service's recovery settings in the service control manager.

#include "norvo/host/host_error.hpp"

#include <windows.h>

#include <expected>

namespace norvo::windows {

// Rewrites the failure actions of the service entry (reset 120 s; restart, restart, none
// after 60 s each), keeping the reboot message and command. A failure is logged, never raised.
void configure_recovery();

// The two calls on the service entry, apart so that the record handling is testable.
class FailureActionsAccess {
  public:
    virtual ~FailureActionsAccess() = default;
    // As QueryServiceConfig2W and ChangeServiceConfig2W at the failure-actions level:
    // false with the thread's last error set on failure.
    virtual bool query(BYTE* buffer, DWORD size, DWORD* needed) = 0;
    virtual bool change(SERVICE_FAILURE_ACTIONSW& actions) = 0;
};

// Reads the current record into an 8,192-byte buffer, then writes the recovery record.
[[nodiscard]] std::expected<void, host::HostError> rewrite_failure_actions(
    FailureActionsAccess& access);

}  // namespace norvo::windows
