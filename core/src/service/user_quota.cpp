#include "norvo/service/user_quota.hpp"

#include <algorithm>

#include "norvo/service/log_target.hpp"

namespace norvo::service {

std::optional<UserQuota::Permit> UserQuota::try_enter(const AccountKey& account) {
    bool warn = false;
    const Refusal refusal = enter(account, warn);
    // Logged outside the lock: a sink may take its time. The service's own warning,
    // already one per burst, is never held back with the lines the caller causes.
    const auto own = log::CallerScope::service_own();
    if (warn && refusal == Refusal::share) {
        kLog.warn("Account {} holds its {} {}, the most one user may: more are refused", account,
                  per_user_max_, what_);
    } else if (warn) {
        kLog.warn("Account {} refused: the service holds its {} {}, the most it takes", account,
                  total_max_, what_);
    }
    if (refusal != Refusal::none)
        return std::nullopt;
    return Permit(*this, account);
}

UserQuota::Refusal UserQuota::enter(const AccountKey& account, bool& warn) {
    MutexLock lock(mutex_);
    const bool counts = counted(account);
    Refusal refusal = Refusal::none;
    if (total_ >= total_max_) {
        refusal = Refusal::total;
    } else if (counts) {
        if (auto found = accounts_.find(account);
            found != accounts_.end() && found->second.count >= per_user_max_)
            refusal = Refusal::share;
    }
    if (refusal != Refusal::none) {
        auto& held = accounts_[account];
        warn = !std::exchange(held.warned, true);
        return refusal;
    }
    ++total_;
    if (!counts) {
        accounts_.erase(account);  // only ever there for its warning
        return refusal;
    }
    auto& held = accounts_[account];
    ++held.count;
    if (held.count <= per_user_max_ / 2)
        held.warned = false;
    return refusal;
}

void UserQuota::leave(const AccountKey& account) {
    MutexLock lock(mutex_);
    --total_;
    if (!counted(account))
        return;
    if (auto found = accounts_.find(account);
        found != accounts_.end() && --found->second.count == 0 && !found->second.warned)
        accounts_.erase(found);
}

bool UserQuota::counted(const AccountKey& account) const {
    return std::ranges::find(uncounted_, account) == uncounted_.end();
}

}  // namespace norvo::service
