#pragma once
// The runtime runs calls naming one context handle concurrently, and the handle's value is
// the context's address: every call holds a lease on it, and a close (or the rundown)
// destroys the context only once no lease is left and refuses new ones from then on.

#include "norvo/mutex.hpp"
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "norvo/service/lease.hpp"
#include "norvo/service/user_quota.hpp"

namespace norvo::windows::rpc {

class ContextLeases {
  public:
    // The permit is the context's place in its user's quota, given back once it is closed;
    // `caller` is whose share of the log the lines of its calls take (log::CallerScope), the
    // account that opened it: only that client's calls can name it.
    void add(const void* context, service::UserQuota::Permit permit, std::string caller);
    // Blocks until the last lease is gone, then forgets the context: its caller, for the lines
    // of the close. None when another close got there first (or it was never held): the caller
    // must not destroy it.
    std::optional<std::string> close(const void* context);

  private:
    friend class Lease;
    struct Held {
        explicit Held(std::string caller) : caller(std::move(caller)) {}
        service::LeaseCounter counter;
        const std::string caller;
    };
    // Null for a context that is not held.
    std::shared_ptr<Held> find(const void* context);

    struct Entry {
        std::shared_ptr<Held> held;
        service::UserQuota::Permit permit;
    };

    Mutex mutex_;
    std::map<const void*, Entry> entries_ GUARDED_BY(mutex_);
};

// One call's lease; released at the latest when it goes. Empty for a context that is not
// held or is being closed.
class Lease {
  public:
    Lease(ContextLeases& leases, const void* context);

    explicit operator bool() const { return static_cast<bool>(lease_); }
    // Later calls do nothing.
    void release() { lease_.release(); }
    // The context's caller while the lease lives; empty for none.
    std::string_view caller() const { return held_ ? held_->caller : std::string_view{}; }

  private:
    std::shared_ptr<ContextLeases::Held> held_;
    service::Lease lease_;  // declared last: released before the counter may go
};

}  // namespace norvo::windows::rpc
