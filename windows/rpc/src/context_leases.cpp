#include "norvo/windows/rpc/context_leases.hpp"

namespace norvo::windows::rpc {

void ContextLeases::add(const void* context) {
    std::lock_guard lock(mutex_);
    entries_[context] = Entry{};
}

bool ContextLeases::enter(const void* context) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(context);
    if (found == entries_.end() || found->second.closing)
        return false;
    ++found->second.leases;
    return true;
}

void ContextLeases::leave(const void* context) {
    std::lock_guard lock(mutex_);
    if (auto found = entries_.find(context); found != entries_.end() && --found->second.leases == 0)
        idle_.notify_all();
}

bool ContextLeases::close(const void* context) {
    std::unique_lock lock(mutex_);
    auto found = entries_.find(context);
    if (found == entries_.end() || found->second.closing)
        return false;
    found->second.closing = true;
    idle_.wait(lock, [&] { return entries_.at(context).leases == 0; });
    entries_.erase(context);
    return true;
}

void Lease::release() {
    if (context_)
        leases_.leave(context_);
    context_ = nullptr;
}

}  // namespace norvo::windows::rpc
