#include "norvo/windows/rpc/context_leases.hpp"

namespace norvo::windows::rpc {

void ContextLeases::add(const void* context, service::UserQuota::Permit permit,
                        std::string caller) {
    MutexLock lock(mutex_);
    entries_.try_emplace(context,
                         Entry{std::make_shared<Held>(std::move(caller)), std::move(permit)});
}

std::shared_ptr<ContextLeases::Held> ContextLeases::find(const void* context) {
    MutexLock lock(mutex_);
    auto found = entries_.find(context);
    return found == entries_.end() ? nullptr : found->second.held;
}

// Waits outside the table's lock: calls on other contexts go on meanwhile.
std::optional<std::string> ContextLeases::close(const void* context) {
    auto held = find(context);
    if (!held || !held->counter.close())
        return std::nullopt;
    std::optional<Entry> gone;  // its permit goes back outside the lock
    {
        MutexLock lock(mutex_);
        auto found = entries_.find(context);
        gone.emplace(std::move(found->second));
        entries_.erase(found);
    }
    return held->caller;
}

Lease::Lease(ContextLeases& leases, const void* context)
    : held_(leases.find(context)), lease_(held_ ? held_->counter.acquire() : service::Lease()) {}

}  // namespace norvo::windows::rpc
