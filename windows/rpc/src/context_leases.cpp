#include "norvo/windows/rpc/context_leases.hpp"

#include <optional>

namespace norvo::windows::rpc {

void ContextLeases::add(const void* context, service::UserQuota::Permit permit) {
    std::lock_guard lock(mutex_);
    entries_.try_emplace(context,
                         Entry{std::make_shared<service::LeaseCounter>(), std::move(permit)});
}

std::shared_ptr<service::LeaseCounter> ContextLeases::find(const void* context) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(context);
    return found == entries_.end() ? nullptr : found->second.counter;
}

// Waits outside the table's lock: calls on other contexts go on meanwhile.
bool ContextLeases::close(const void* context) {
    auto counter = find(context);
    if (!counter || !counter->close())
        return false;
    std::optional<Entry> gone;  // its permit goes back outside the lock
    {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(context);
        gone.emplace(std::move(found->second));
        entries_.erase(found);
    }
    return true;
}

Lease::Lease(ContextLeases& leases, const void* context)
    : counter_(leases.find(context)), lease_(counter_ ? counter_->acquire() : service::Lease()) {}

}  // namespace norvo::windows::rpc
