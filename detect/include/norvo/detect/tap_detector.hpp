#pragma once
// Taps in a stream of accelerometer samples. Owned and fed by one thread (the sample source's);
// it never reads a clock: time is the samples' own.
//
// Each sample's high-passed magnitude (its distance from a 100 ms moving average of the three
// axes) is compared with a threshold over an adaptive noise floor. A tap is a peak above it that
// is short at half its height, stands alone (nothing else reaches half its height just before or
// after it), comes while the machine is not being moved and leaves it where it was, and is not
// within the refractory time of the tap before. A tap is decided once its quiet time after has
// passed, so it is reported about max_width + quiet_after after its onset, with the onset's own
// time.

#include "norvo/detect/sample.hpp"
#include "norvo/detect/tap_parameters.hpp"

#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace norvo::detect {

// What the detector saw in the last sample, for drawing it.
struct Probe {
    double magnitude = 0;  // high-passed, m/s²
    double threshold = 0;  // in force for it, m/s²
    double motion = 0;     // how far the steady acceleration ranged over the last motion_hold, m/s²
};

class TapDetector {
  public:
    // The parameters must be valid (validate in tap_options.hpp).
    explicit TapDetector(const TapParameters& parameters = {});
    ~TapDetector();
    TapDetector(TapDetector&&) noexcept;
    TapDetector& operator=(TapDetector&&) noexcept;

    // A sample whose time does not advance, or that is not finite, is ignored: a stream on
    // another clock needs a detector of its own. After a gap of more than half a second the
    // stream starts afresh, and no tap starts in its first half second (the filters settle).
    std::optional<Tap> push(const AccelSample& sample);

    // The stream has ended: decides a tap still waiting for its quiet time after.
    std::optional<Tap> finish();

    // Costs a look over the last motion_hold: for drawing, not for every sample of a service.
    Probe probe() const;

  private:
    class State;
    std::unique_ptr<State> state_;
};

// Every tap in a whole recording, its end included.
std::vector<Tap> detect_taps(std::span<const AccelSample> samples,
                             const TapParameters& parameters = {});

}  // namespace norvo::detect
