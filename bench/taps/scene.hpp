#pragma once
// What the accelerometer of a laptop would read, from a model of what happens to the machine:
// impacts on the chassis (taps, keystrokes, clicks, set-downs), steady oscillations (vibration,
// a walk's bounce, a hand's tremor) and turns (lifting, tilting, the lid swinging). Units: seconds,
// metres, m/s², radians. The sensor's axes: x along the hinge, y up the screen, z out of it.

#include "norvo/detect/vec3.hpp"

#include <memory>
#include <vector>

namespace norvo::tapgen {

using detect::Vec3;
Vec3 unit_vector(const Vec3& v);

// What the components add up to at one instant.
struct Motion {
    double pitch = 0;     // about x
    double roll = 0;      // about y
    double vertical = 0;  // acceleration along the world's up
    Vec3 frame;           // acceleration in the sensor's axes
};

class Component {
  public:
    Component(double start, double end) : start_(start), end_(end) {}
    virtual ~Component() = default;
    double start() const { return start_; }
    double end() const { return end_; }
    virtual void add(double t, Motion& motion) const = 0;
    // What stays once it has ended (a turn's new attitude).
    virtual void add_lasting(Motion&) const {}

  private:
    double start_;
    double end_;
};

// An impact: a half-sine pulse along `direction`, then the chassis ringing and the lid swaying.
struct Impact {
    double start = 0;
    double width = 0.008;
    double peak = 1;
    Vec3 direction{0, 0, 1};
    double ring_share = 0.2;
    double ring_hz = 60;
    double ring_decay = 0.015;
    double sway_share = 0.1;
    double sway_hz = 8;
    double sway_decay = 0.15;
};

// A sinusoid switched on and off with linear ramps, optionally swelling slowly.
struct Oscillation {
    enum class Target { frame, vertical, pitch, roll };
    Target target = Target::frame;
    Vec3 direction{0, 0, 1};  // for Target::frame
    double start = 0;
    double end = 0;
    double ramp = 0.1;
    double hz = 10;
    double amplitude = 0.1;
    double phase = 0;
    double swell_hz = 0;
    double swell_depth = 0;
};

// A smooth (minimum-jerk) change of attitude and height, felt at `radius` from the pivot.
struct Turn {
    double start = 0;
    double duration = 0.5;
    double pitch = 0;
    double roll = 0;
    double rise = 0;
    double radius = 0.2;
};

class Scene {
  public:
    // `up` is the world's up in the sensor's axes at rest (before any turn).
    explicit Scene(const Vec3& up);
    ~Scene();
    Scene(Scene&&) noexcept;
    Scene& operator=(Scene&&) noexcept;

    void add(const Impact& impact);
    void add(const Oscillation& oscillation);
    void add(const Turn& turn);

    // The reading, gravity included, at time t; t must not go back between calls.
    Vec3 reading(double t);

  private:
    void admit(double t);

    Vec3 up_;
    std::vector<std::unique_ptr<Component>> pending_;  // sorted by start once reading begins
    std::size_t next_ = 0;
    bool sorted_ = false;
    std::vector<const Component*> active_;
    Motion lasting_;
};

}  // namespace norvo::tapgen
