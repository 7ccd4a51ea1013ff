#pragma once
// The time seam: the core asks a Clock for the time and waits through Wakeups
// the clock makes, so the same code runs on the monotonic clock or in virtual time.

#include <chrono>
#include <memory>
#include <optional>

namespace norvo {

using Instant = std::chrono::steady_clock::time_point;
using Duration = std::chrono::nanoseconds;

// One consumer waits on it; any thread may notify it. A notification that comes
// while nobody waits is kept for the next wait, so no wake-up is ever lost.
class Wakeup {
  public:
    virtual ~Wakeup() = default;
    virtual void notify() = 0;
    // Returns once notified since the last return, or once `deadline` has passed.
    virtual void wait(std::optional<Instant> deadline) = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual Instant now() const = 0;
    virtual std::shared_ptr<Wakeup> make_wakeup() = 0;
};

}  // namespace norvo
