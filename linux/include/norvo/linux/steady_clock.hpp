#pragma once
// The real monotonic clock, and wakeups that block on a condition variable.

#include "norvo/clock.hpp"

namespace norvo::linux_platform {

class SteadyClock final : public Clock {
  public:
    Instant now() const override;
    std::shared_ptr<Wakeup> make_wakeup() override;
};

}  // namespace norvo::linux_platform
