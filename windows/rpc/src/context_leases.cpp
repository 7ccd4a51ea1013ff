#include "norvo/windows/rpc/context_leases.hpp"

namespace norvo::windows::rpc {

void ContextLeases::add(const void* context) {
    std::lock_guard lock(mutex_);
    entries_[context] = std::make_shared<service::LeaseCounter>();
}

std::shared_ptr<service::LeaseCounter> ContextLeases::find(const void* context) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(context);
    return found == entries_.end() ? nullptr : found->second;
}

// Waits outside the table's lock: calls on other contexts go on meanwhile.
bool ContextLeases::close(const void* context) {
    auto counter = find(context);
    if (!counter || !counter->close())
        return false;
    std::lock_guard lock(mutex_);
    entries_.erase(context);
    return true;
}

Lease::Lease(ContextLeases& leases, const void* context)
    : counter_(leases.find(context)), lease_(counter_ ? counter_->acquire() : service::Lease()) {}

}  // namespace norvo::windows::rpc
