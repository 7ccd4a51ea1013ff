#include "norvo/virtual_clock.hpp"

#include <algorithm>

namespace norvo {
namespace {

// All wakeups of one clock share its mutex and condition variable: a notify, a
// move of time and a release are then one change that every waiter sees.
class VirtualWakeup final : public Wakeup {
  public:
    explicit VirtualWakeup(std::shared_ptr<VirtualClock::State> state) : state_(std::move(state)) {
        MutexLock lock(state_->mutex);
        state_->waiters.push_back(&waiter_);
    }

    ~VirtualWakeup() override {
        MutexLock lock(state_->mutex);
        std::erase(state_->waiters, &waiter_);
    }

    void notify() override {
        {
            MutexLock lock(state_->mutex);
            waiter_.notified = true;
        }
        state_->cv.notify_all();
    }

    void wait(std::optional<Instant> deadline) override {
        MutexLock lock(state_->mutex);
        waiter_.deadline = deadline;
        waiter_.blocked = true;
        state_->cv.notify_all();
        state_->cv.wait(lock.native(), [&]() REQUIRES(state_->mutex) {
            return !state_->held && (waiter_.notified || (deadline && state_->now >= *deadline));
        });
        waiter_.blocked = false;
        waiter_.notified = false;
        state_->cv.notify_all();
    }

  private:
    std::shared_ptr<VirtualClock::State> state_;
    VirtualClock::Waiter waiter_ GUARDED_BY(state_->mutex);
};

}  // namespace

std::size_t VirtualClock::State::idle_waiters() const {
    return static_cast<std::size_t>(
        std::count_if(waiters.begin(), waiters.end(), [&](const Waiter* w) REQUIRES(mutex) {
            return w->blocked && !w->notified && !(w->deadline && now >= *w->deadline);
        }));
}

std::optional<Instant> VirtualClock::next_deadline() const {
    MutexLock lock(state_->mutex);
    std::optional<Instant> earliest;
    for (const Waiter* w : state_->waiters) {
        if (w->blocked && w->deadline && (!earliest || *w->deadline < *earliest))
            earliest = w->deadline;
    }
    return earliest;
}

VirtualClock::VirtualClock() : state_(std::make_shared<State>()) {}

Instant VirtualClock::now() const {
    MutexLock lock(state_->mutex);
    return state_->now;
}

std::shared_ptr<Wakeup> VirtualClock::make_wakeup() {
    return std::make_shared<VirtualWakeup>(state_);
}

void VirtualClock::advance_to(Instant t) {
    {
        MutexLock lock(state_->mutex);
        state_->now = std::max(state_->now, t);
    }
    state_->cv.notify_all();
}

void VirtualClock::hold() {
    MutexLock lock(state_->mutex);
    state_->held = true;
}

void VirtualClock::release() {
    {
        MutexLock lock(state_->mutex);
        state_->held = false;
    }
    state_->cv.notify_all();
}

void VirtualClock::poke() {
    {
        MutexLock lock(state_->mutex);
    }
    state_->cv.notify_all();
}

}  // namespace norvo
