#pragma once
// Counts what the users hold (connections, sensor runs, closes), in all and per
// user. Root and the service's own account count only towards the total.

#include <sys/types.h>

#include <cstddef>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace norvo::transport {

class UserQuota {
  public:
    class Permit {
      public:
        Permit(UserQuota& quota, uid_t uid) : quota_(&quota), uid_(uid) {}
        Permit(Permit&& other) noexcept
            : quota_(std::exchange(other.quota_, nullptr)), uid_(other.uid_) {}
        Permit& operator=(Permit&&) = delete;
        ~Permit() {
            if (quota_)
                quota_->leave(uid_);
        }

      private:
        UserQuota* quota_;
        uid_t uid_;
    };

    UserQuota(std::size_t total, std::size_t per_user, uid_t service_uid)
        : total_max_(total), per_user_max_(per_user), service_uid_(service_uid) {}

    // None when the total or the user's share is used up.
    std::optional<Permit> try_enter(uid_t uid);

  private:
    void leave(uid_t uid);
    bool counted(uid_t uid) const { return uid != 0 && uid != service_uid_; }

    const std::size_t total_max_;
    const std::size_t per_user_max_;
    const uid_t service_uid_;
    std::mutex mutex_;
    std::size_t total_ = 0;
    std::unordered_map<uid_t, std::size_t> per_user_;
};

}  // namespace norvo::transport
