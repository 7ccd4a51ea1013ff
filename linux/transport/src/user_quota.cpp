#include "user_quota.hpp"

namespace norvo::transport {

std::optional<UserQuota::Permit> UserQuota::try_enter(uid_t uid) {
    std::lock_guard lock(mutex_);
    if (total_ >= total_max_)
        return std::nullopt;
    if (counted(uid)) {
        auto& held = per_user_[uid];
        if (held >= per_user_max_)
            return std::nullopt;
        ++held;
    }
    ++total_;
    return Permit(*this, uid);
}

void UserQuota::leave(uid_t uid) {
    std::lock_guard lock(mutex_);
    --total_;
    if (counted(uid)) {
        if (auto found = per_user_.find(uid); found != per_user_.end() && --found->second == 0)
            per_user_.erase(found);
    }
}

}  // namespace norvo::transport
