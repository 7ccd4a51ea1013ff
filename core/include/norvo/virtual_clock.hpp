#pragma once
// Virtual time for tests and tools: time moves only when told to, and the code
// that waits on this clock runs exactly as it would in real time.

#include "norvo/clock.hpp"
#include "norvo/mutex.hpp"

#include <condition_variable>
#include <cstddef>
#include <vector>

namespace norvo {

class VirtualClock final : public Clock {
  public:
    VirtualClock();

    Instant now() const override;
    std::shared_ptr<Wakeup> make_wakeup() override;

    // Moves time forward and wakes the waiters whose deadline has passed.
    void advance_to(Instant t);
    void advance(Duration d) { advance_to(now() + d); }

    // While held, waiters stay in their wait even when notified or due, so that
    // several inputs of one instant are all queued before the consumer looks.
    void hold();
    void release();

    // Blocks until at least `waiters` wakeups sit in their wait with nothing to
    // return for, or until `give_up()` is true (checked on every change of this clock).
    template <class Pred>
    void wait_until_idle(std::size_t waiters, Pred give_up) {
        MutexLock lock(state_->mutex);
        state_->cv.wait(lock.native(), [&]() REQUIRES(state_->mutex) {
            return state_->idle_waiters() >= waiters || give_up();
        });
    }

    // The earliest deadline that a blocked waiter waits for, if any.
    std::optional<Instant> next_deadline() const;

    // Wakes wait_until_idle callers so that they re-check their give-up condition.
    void poke();

    struct Waiter {
        bool notified = false;
        std::optional<Instant> deadline;
        bool blocked = false;
    };

    struct State {
        Mutex mutex;
        std::condition_variable cv;
        Instant now GUARDED_BY(mutex){};
        bool held GUARDED_BY(mutex) = false;
        std::vector<Waiter*> waiters GUARDED_BY(mutex);

        // Waiters blocked with neither a notification nor a passed deadline.
        std::size_t idle_waiters() const REQUIRES(mutex);
    };

  private:
    std::shared_ptr<State> state_;
};

}  // namespace norvo
