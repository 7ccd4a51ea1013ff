#include "norvo/detect/tap_detector.hpp"

#include "motion_watch.hpp"
#include "noise_floor.hpp"
#include "norvo/detect/vec3.hpp"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>

namespace norvo::detect {

namespace {

using std::chrono::milliseconds;

// Long enough to keep an impulse of up to about 100 ms nearly whole, so that its width can be
// judged; short enough that a tilt's slow change barely shows.
constexpr double kBaselineSeconds = 0.1;
// A longer silence is a new stream: the source stalled, or the device was away.
constexpr Timestamp kMaxGap = milliseconds(500);
constexpr Timestamp kSettle = milliseconds(500);
constexpr double kOnsetLevel = 0.25;
// Right after its pulse, the chassis ringing may reach half a tap's peak; only later must it
// be quiet.
constexpr Timestamp kRinging = milliseconds(50);

double seconds(Timestamp t) {
    return std::chrono::duration<double>(t).count();
}

// Moves `average` toward `value` as a moving average with time constant `tau` (seconds) does
// over `dt` seconds: lost samples and jittered timestamps keep the same time constant.
void smooth(Vec3& average, const Vec3& value, double dt, double tau) {
    average = average + dt / (tau + dt) * (value - average);
}

struct Point {
    Timestamp time;
    double magnitude;
};

// Where the straight line from `a` to `b` passes `level` (which lies between their magnitudes).
Timestamp crossing(double level, const Point& a, const Point& b) {
    const double part = (level - a.magnitude) / (b.magnitude - a.magnitude);
    return a.time + std::chrono::duration_cast<Timestamp>(
                        std::chrono::duration<double>(part * seconds(b.time - a.time)));
}

std::uint32_t millimetres_per_s2(double metres_per_s2) {
    const double mm = std::round(metres_per_s2 * 1000);
    constexpr auto kMost = std::numeric_limits<std::uint32_t>::max();
    return mm >= static_cast<double>(kMost) ? kMost : static_cast<std::uint32_t>(mm);
}

// A peak above the threshold, from its first sample until it is decided. At namespace scope:
// clang cannot default-construct a nested class with member initializers inside its class.
struct Candidate {
    double peak = 0;
    Vec3 level_before;  // the steady acceleration when it began
    // The samples at half the peak or more around it, contiguous.
    Timestamp run_first{};
    Timestamp run_last{};
    bool ended = false;  // a sample below half the peak has followed it
};

}  // namespace

class TapDetector::State {
  public:
    explicit State(const TapParameters& parameters)
        : p_(parameters),
          keep_(p_.quiet_before + 2 * p_.max_width + p_.quiet_after),
          settle_(std::max<Timestamp>(kSettle, p_.quiet_before + p_.max_width)),
          motion_(p_.motion_hold + p_.max_width + p_.quiet_after + kMaxGap) {}

    std::optional<Tap> push(const AccelSample& sample);
    std::optional<Tap> finish();
    Probe probe() const {
        Probe probe = probe_;
        probe.motion = motion_.range_since(last_time_ - p_.motion_hold);
        return probe;
    }

  private:
    using Entry = Point;
    void restart(const AccelSample& sample);
    std::optional<Tap> step(Timestamp time, double magnitude, double threshold);
    void set_peak(Candidate& candidate, Timestamp time, double magnitude) const;
    std::optional<Tap> decide(const Candidate& candidate);
    bool quiet_before(const Candidate& candidate) const;
    Timestamp onset(const Candidate& candidate) const;

    TapParameters p_;
    Timestamp keep_;
    Timestamp settle_;
    bool started_ = false;
    Timestamp last_time_{};
    Timestamp settled_at_{};
    Vec3 baseline_;
    MotionWatch motion_;
    NoiseFloor floor_;
    std::deque<Entry> history_;  // the magnitudes a candidate is judged on
    std::optional<Candidate> candidate_;
    std::optional<Timestamp> last_tap_;
    Probe probe_;
};

std::optional<Tap> TapDetector::State::push(const AccelSample& sample) {
    const Vec3 a{sample.x, sample.y, sample.z};
    if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(a.z))
        return std::nullopt;
    if (started_ && sample.time <= last_time_)
        return std::nullopt;
    if (!started_ || sample.time - last_time_ > kMaxGap) {
        auto tap = finish();
        restart(sample);
        return tap;
    }
    const double dt = seconds(sample.time - last_time_);
    last_time_ = sample.time;
    const double magnitude = length(a - baseline_);
    smooth(baseline_, a, dt, kBaselineSeconds);
    motion_.update(sample.time, a);
    floor_.add(sample.time, magnitude);
    const double threshold = std::max(p_.threshold, p_.noise_factor * floor_.value());
    probe_ = {magnitude, threshold};

    history_.push_back({sample.time, magnitude});
    auto tap = step(sample.time, magnitude, threshold);
    while (history_.front().time < sample.time - keep_) history_.pop_front();
    return tap;
}

std::optional<Tap> TapDetector::State::finish() {
    std::optional<Tap> tap;
    if (candidate_ && candidate_->ended)
        tap = decide(*candidate_);
    candidate_.reset();
    return tap;
}

void TapDetector::State::restart(const AccelSample& sample) {
    started_ = true;
    last_time_ = sample.time;
    settled_at_ = sample.time + settle_;
    baseline_ = {sample.x, sample.y, sample.z};
    motion_.restart(sample.time, baseline_);
    floor_.clear();
    history_.clear();
    probe_ = {0, p_.threshold, 0};
}

std::optional<Tap> TapDetector::State::step(Timestamp time, double magnitude, double threshold) {
    std::optional<Tap> tap;
    if (candidate_) {
        Candidate& c = *candidate_;
        if (!c.ended) {
            if (magnitude > c.peak)
                set_peak(c, time, magnitude);
            else if (magnitude >= c.peak / 2)
                c.run_last = time;
            else
                c.ended = true;
            if (c.run_last - c.run_first > p_.max_width)
                candidate_.reset();
        } else if (time > c.run_last + p_.quiet_after) {
            tap = decide(c);
            candidate_.reset();
        } else if (magnitude > c.peak ||
                   (magnitude >= c.peak / 2 && time > c.run_last + kRinging)) {
            candidate_.reset();  // not alone: a click's release, a vibration's next swing
        }
    }
    if (!candidate_ && magnitude >= threshold && time >= settled_at_) {
        candidate_.emplace();
        candidate_->level_before = motion_.steady();
        set_peak(*candidate_, time, magnitude);
    }
    return tap;
}

void TapDetector::State::set_peak(Candidate& candidate, Timestamp time, double magnitude) const {
    candidate.peak = magnitude;
    candidate.run_first = candidate.run_last = time;
    // The newest entry is this sample.
    for (auto it = std::next(history_.rbegin()); it != history_.rend(); ++it) {
        if (it->magnitude < magnitude / 2)
            break;
        candidate.run_first = it->time;
    }
}

std::optional<Tap> TapDetector::State::decide(const Candidate& candidate) {
    if (!quiet_before(candidate))
        return std::nullopt;
    if (motion_.range_since(candidate.run_first - p_.motion_hold) >= p_.motion_threshold)
        return std::nullopt;
    // A tap leaves the machine where it was; a knock that starts a movement (the lid's magnets
    // letting go, a hand gripping it to lift) does not, though the movement is too young yet
    // to pass the motion threshold.
    if (length(motion_.steady() - candidate.level_before) >= p_.motion_threshold / 2)
        return std::nullopt;
    const Timestamp at = onset(candidate);
    if (last_tap_ && at - *last_tap_ < p_.refractory)
        return std::nullopt;
    last_tap_ = at;
    return Tap{at, millimetres_per_s2(candidate.peak)};
}

bool TapDetector::State::quiet_before(const Candidate& candidate) const {
    const Timestamp from = candidate.run_first - p_.quiet_before;
    return std::none_of(history_.begin(), history_.end(), [&](const Entry& e) {
        return e.time >= from && e.time < candidate.run_first && e.magnitude >= candidate.peak / 2;
    });
}

// Where the rising edge, drawn straight between samples, crosses a quarter of the peak. Beyond
// the sample before the run, looked for no further back than half the longest tap, so that noise
// before a weak tap is not taken for its edge.
Timestamp TapDetector::State::onset(const Candidate& candidate) const {
    const double level = candidate.peak * kOnsetLevel;
    const Timestamp earliest = candidate.run_first - p_.max_width / 2;
    auto hi = std::find_if(history_.rbegin(), history_.rend(),
                           [&](const Entry& e) { return e.time == candidate.run_first; });
    if (hi == history_.rend())
        return candidate.run_first;  // kept for as long as a candidate lasts: not reached
    for (auto lo = std::next(hi); lo != history_.rend(); hi = lo++) {
        if (lo->magnitude < level)
            return crossing(level, *lo, *hi);
        if (lo->time < earliest)
            break;
    }
    return hi->time;
}

std::vector<Tap> detect_taps(std::span<const AccelSample> samples,
                             const TapParameters& parameters) {
    TapDetector detector(parameters);
    std::vector<Tap> taps;
    for (const auto& sample : samples) {
        if (auto tap = detector.push(sample))
            taps.push_back(*tap);
    }
    if (auto tap = detector.finish())
        taps.push_back(*tap);
    return taps;
}

TapDetector::TapDetector(const TapParameters& parameters)
    : state_(std::make_unique<State>(parameters)) {}
TapDetector::~TapDetector() = default;
TapDetector::TapDetector(TapDetector&&) noexcept = default;
TapDetector& TapDetector::operator=(TapDetector&&) noexcept = default;

std::optional<Tap> TapDetector::push(const AccelSample& sample) {
    return state_->push(sample);
}
std::optional<Tap> TapDetector::finish() {
    return state_->finish();
}
Probe TapDetector::probe() const {
    return state_->probe();
}

}  // namespace norvo::detect
