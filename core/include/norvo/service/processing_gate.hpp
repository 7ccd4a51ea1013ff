#pragma once
// Lets RemoteClose wait until every start call on a context has returned.
// Overlapping starts are counted, so the first to end does not open the gate.

#include <condition_variable>
#include <cstddef>

#include "norvo/mutex.hpp"

namespace norvo::service {

class ProcessingGate {
  public:
    void enter();
    // Wakes all waiters when the last running start leaves.
    void leave();
    bool processing() const;

    // Blocks until no start runs. `on_wake` is called, without the lock, after
    // every wake-up of the wait.
    template <class OnWake>
    void wait_idle(OnWake on_wake) {
        MutexLock lock(mutex_);
        while (running_ > 0) {
            cv_.wait(lock.native());
            lock.unlock();
            on_wake();
            lock.lock();
        }
    }

  private:
    mutable Mutex mutex_;
    std::condition_variable cv_;
    std::size_t running_ GUARDED_BY(mutex_) = 0;
};

}  // namespace norvo::service
