#pragma once
// The median of the last seconds' high-passed magnitudes: the noise a tap must stand out of.
// A median, so that the taps themselves, keystrokes and other short events do not raise it.

#include "norvo/detect/sample.hpp"

#include <deque>
#include <vector>

namespace norvo::detect {

class NoiseFloor {
  public:
    void add(Timestamp time, double magnitude);
    double value() const { return median_; }
    void clear();

  private:
    struct Entry {
        Timestamp time;
        double magnitude;
    };
    void refresh();

    std::deque<Entry> window_;
    std::vector<double> scratch_;
    double median_ = 0;
    Timestamp next_refresh_{};
};

}  // namespace norvo::detect
