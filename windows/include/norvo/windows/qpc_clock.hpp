#pragma once
// The monotonic clock on QueryPerformanceCounter, and wakeups on auto-reset events.

#include "norvo/clock.hpp"

namespace norvo::windows {

class QpcClock final : public Clock {
  public:
    QpcClock();
    Instant now() const override;
    std::shared_ptr<Wakeup> make_wakeup() override;

  private:
    long long frequency_;  // counts per second
};

}  // namespace norvo::windows
