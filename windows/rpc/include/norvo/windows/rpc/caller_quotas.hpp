#pragma once
// The per-user quotas of the interface's routines (norvo/service/user_quota.hpp), keyed by
// the calling user's SID as a string, and whose share of the log a call's lines take.

#include "norvo/service/user_quota.hpp"

#include <windows.h>

#include <cstddef>
#include <expected>
#include <string_view>
#include <vector>

namespace norvo::windows::rpc {

// Running starts in all: the runtime serves 1,234 calls at once, and what is left over
// stays for everybody's other calls.
inline constexpr std::size_t kStartsInAll = 1024;
// LocalSystem.
inline constexpr char kSystemAccount[] = "S-1-5-18";

struct QuotaLimits {
    std::size_t contexts_per_user = service::kContextsPerUser;
    std::size_t starts = kStartsInAll;
    std::size_t starts_per_user = service::kStartsPerUser;
    std::vector<service::AccountKey> uncounted;  // towards the totals only
};

// How a routine's thread takes on its caller's token and gives it back: each step 0 or an
// error code.
struct Impersonation {
    DWORD (*impersonate)();
    DWORD (*revert)();
};
// The client of the call in progress on this thread, through the RPC runtime.
extern const Impersonation kRpcClient;

// The account whose token the thread holds while impersonating: an impersonation that
// fails, or a token that cannot be opened (one at the anonymous level), is no account.
[[nodiscard]] std::expected<service::AccountKey, DWORD> impersonated_account(
    const Impersonation& impersonation);
// The SID this process runs as.
[[nodiscard]] std::expected<service::AccountKey, DWORD> own_account();

struct CallerQuotas {
    CallerQuotas(const QuotaLimits& limits, Impersonation impersonation);

    // The SID of the client of the call in progress on this thread.
    [[nodiscard]] std::expected<service::AccountKey, DWORD> caller() const;
    // Whose share of the log the lines of `account`'s calls take (log::CallerScope): a view
    // of `account`, or none for the uncounted accounts, whose lines are the service's own.
    [[nodiscard]] std::string_view log_caller(const service::AccountKey& account) const;

    service::UserQuota contexts;
    service::UserQuota starts;
    const Impersonation impersonation;
    const std::vector<service::AccountKey> uncounted;
};

// The service's limits: LocalSystem and the service's own account uncounted.
QuotaLimits service_limits();
// The routines' quotas, made at their first use with the service's limits and the RPC
// client's identity unless `install_caller_quotas` came first (a test's smaller limits, and
// callers of its own for routines called directly). False when it came too late.
CallerQuotas& caller_quotas();
bool install_caller_quotas(const QuotaLimits& limits, Impersonation impersonation = kRpcClient);

}  // namespace norvo::windows::rpc
