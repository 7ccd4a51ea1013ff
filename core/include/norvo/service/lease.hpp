#pragma once
// Counts the calls that use a resource, so that a close can refuse new ones and
// wait for the last before the resource goes. The owner keeps the counter alive
// while any lease is out; `close` returning is the sign that none is.

#include <condition_variable>
#include <cstddef>
#include <utility>

#include "norvo/mutex.hpp"

namespace norvo::service {

class LeaseCounter;

// One call's lease; released at the latest when it goes.
class Lease {
  public:
    Lease() = default;
    Lease(Lease&& other) noexcept : counter_(std::exchange(other.counter_, nullptr)) {}
    Lease& operator=(Lease&&) = delete;
    ~Lease() { release(); }

    // False for a lease refused by a closing counter.
    explicit operator bool() const { return counter_ != nullptr; }
    // Lets a close go ahead; later calls do nothing.
    void release();

  private:
    friend class LeaseCounter;
    explicit Lease(LeaseCounter* counter) : counter_(counter) {}

    LeaseCounter* counter_ = nullptr;
};

class LeaseCounter {
  public:
    // An empty lease once closing.
    [[nodiscard]] Lease acquire();
    // Refuses new leases and blocks until the last is released. False when another
    // close got there first: that one owns what comes after.
    [[nodiscard]] bool close();

  private:
    friend class Lease;
    void leave();

    Mutex mutex_;
    std::condition_variable idle_;
    std::size_t leases_ GUARDED_BY(mutex_) = 0;
    bool closing_ GUARDED_BY(mutex_) = false;
};

}  // namespace norvo::service
