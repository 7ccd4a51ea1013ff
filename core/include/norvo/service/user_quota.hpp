#pragma once
// What one user may hold in the service at once, on every platform, and the count
// that enforces it. A user is named by an opaque account key that the platform
// supplies (the peer's uid on Linux, the caller's SID on Windows). The system
// and the service's own account count towards the totals only. A call past a
// limit is refused with RPC status 1723 (server too busy) before anything changes.

#include <cstddef>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "norvo/mutex.hpp"

namespace norvo::service {

using AccountKey = std::string;

// Contexts one user holds, across all their connections or bindings. Far above
// a companion application's one or two, and low enough that a thousand users
// stay within a few hundred MiB.
inline constexpr std::size_t kContextsPerUser = 4096;
inline constexpr std::size_t kContextsInAll = std::numeric_limits<std::size_t>::max();
// Running NorvoStartSensor calls of one user: each holds a thread of the service.
inline constexpr std::size_t kStartsPerUser = 32;

class UserQuota {
  public:
    // One count held, given back when it ends. Only the quota makes permits, so
    // no count is ever given back that was not taken.
    class Permit {
      public:
        Permit(Permit&& other) noexcept
            : quota_(std::exchange(other.quota_, nullptr)), account_(std::move(other.account_)) {}
        Permit& operator=(Permit&&) = delete;
        ~Permit() {
            if (quota_)
                quota_->leave(account_);
        }

      private:
        friend class UserQuota;
        Permit(UserQuota& quota, AccountKey account)
            : quota_(&quota), account_(std::move(account)) {}

        UserQuota* quota_;
        AccountKey account_;
    };

    // `what` names the counted thing in the Warn line of a refusal.
    UserQuota(std::string_view what, std::size_t total, std::size_t per_user,
              std::vector<AccountKey> uncounted)
        : what_(what),
          total_max_(total),
          per_user_max_(per_user),
          uncounted_(std::move(uncounted)) {}

    // None when the total or the account's share is used up. The first refusal of
    // a burst logs one Warn naming the account; the burst ends once the account is
    // served again holding at most half its share.
    std::optional<Permit> try_enter(const AccountKey& account);

  private:
    struct Held {
        std::size_t count = 0;
        bool warned = false;
    };
    enum class Refusal { none, total, share };

    Refusal enter(const AccountKey& account, bool& warn);
    void leave(const AccountKey& account);
    bool counted(const AccountKey& account) const;

    const std::string what_;
    const std::size_t total_max_;
    const std::size_t per_user_max_;
    const std::vector<AccountKey> uncounted_;
    // Any thread: enter and leave hold the mutex for one count, never while logging.
    Mutex mutex_;
    std::size_t total_ GUARDED_BY(mutex_) = 0;
    // Counted accounts that hold something, and any account warned in its burst.
    std::unordered_map<AccountKey, Held> accounts_ GUARDED_BY(mutex_);
};

}  // namespace norvo::service
