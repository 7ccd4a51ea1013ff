#pragma once
// Taps found in an accelerometer's samples, each handed on a fixed delay after its onset, so
// that when a tap reaches the sensor loop depends on its onset alone, not on when its samples
// happened to be read (a buffer read every 100 ms; the detector decides a tap 0.16 to 0.2 s after
// its onset). The delay is the longest that can pass between the two; a tap decided later still
// (a read held up by a busy machine, a stream resumed after a gap) is handed on at once. Owned
// by one thread (the sensor's); it reads no clock: times are on the monotonic clock, as its
// caller tells them.

#include <chrono>
#include <deque>
#include <optional>
#include <vector>

#include "norvo/detect/tap_detector.hpp"

namespace norvo::linux_platform {

class TapDelivery {
  public:
    TapDelivery(const detect::TapParameters& parameters, std::chrono::nanoseconds delay);

    // A sample timed on its device's clock, which `to_monotonic` turns into the monotonic clock.
    void push(const detect::AccelSample& sample, std::chrono::nanoseconds to_monotonic);

    struct Delivery {
        detect::Tap tap;  // its onset on the monotonic clock
        detect::Timestamp due;
    };
    std::optional<detect::Timestamp> next_due() const;
    // The taps due by `now`, oldest first.
    std::vector<Delivery> take_due(detect::Timestamp now);

    std::chrono::nanoseconds delay() const { return delay_; }

  private:
    detect::TapDetector detector_;
    std::chrono::nanoseconds delay_;
    std::deque<Delivery> waiting_;  // by due time
};

// The longest from a tap's onset until its sample stream has told the sensor's thread: the
// detector's decision (half the longest impulse before the onset may count, the impulse, the
// quiet time after, and two sample periods), the wait for the read that brings it (a read
// period, and `batch`, how long a device's own FIFO may hold samples), and the thread's wake-up.
std::chrono::nanoseconds delivery_delay(const detect::TapParameters& parameters, double rate_hz,
                                        std::chrono::nanoseconds read_period,
                                        std::chrono::nanoseconds batch);

}  // namespace norvo::linux_platform
