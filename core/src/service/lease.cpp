#include "norvo/service/lease.hpp"

namespace norvo::service {

void Lease::release() {
    if (auto* counter = std::exchange(counter_, nullptr))
        counter->leave();
}

Lease LeaseCounter::acquire() {
    MutexLock lock(mutex_);
    if (closing_)
        return Lease();
    ++leases_;
    return Lease(this);
}

// Notifies under the lock: the closer may destroy the counter as soon as it sees no lease.
void LeaseCounter::leave() {
    MutexLock lock(mutex_);
    if (--leases_ == 0)
        idle_.notify_all();
}

bool LeaseCounter::close() {
    MutexLock lock(mutex_);
    if (closing_)
        return false;
    closing_ = true;
    idle_.wait(lock.native(), [&]() REQUIRES(mutex_) { return leases_ == 0; });
    return true;
}

}  // namespace norvo::service
