#pragma once
// Whether the machine is being moved: lifted, tilted, carried, its lid swung. Each axis's median
// over the last 100 ms, its steady acceleration, drops the short impulses of taps, keystrokes
// and clicks and the swings of vibration; what moves it is a change of attitude (gravity seen
// along other axes) or of the machine's own acceleration, which a tap's after-sway barely does.

#include "norvo/detect/sample.hpp"
#include "norvo/detect/vec3.hpp"

#include <deque>
#include <vector>

namespace norvo::detect {

class MotionWatch {
  public:
    // Keeps the steady acceleration of the last `span`.
    explicit MotionWatch(Timestamp span) : span_(span) {}

    void restart(Timestamp time, const Vec3& acceleration);
    void update(Timestamp time, const Vec3& acceleration);

    // Taken every 20 ms.
    const Vec3& steady() const { return steady_; }
    // How far the steady acceleration has ranged since `from` (per axis, highest less lowest,
    // as one vector's length), in m/s².
    double range_since(Timestamp from) const;

  private:
    struct Entry {
        Timestamp time;
        Vec3 acceleration;
    };
    Vec3 median();

    Timestamp span_;
    std::deque<Entry> window_;  // the samples of the last 100 ms
    std::deque<Entry> steady_history_;
    std::vector<double> scratch_;
    Vec3 steady_;
    Timestamp next_steady_{};
};

}  // namespace norvo::detect
