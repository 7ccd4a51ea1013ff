#include "scene.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace norvo::tapgen {

namespace {

constexpr double kGravity = 9.80665;
constexpr double kTwoPi = 2 * std::numbers::pi;

class ImpactComponent final : public Component {
  public:
    explicit ImpactComponent(const Impact& impact)
        : Component(impact.start, impact.start + impact.width +
                                      6 * std::max(impact.ring_decay, impact.sway_decay)),
          i_(impact) {}

    void add(double t, Motion& motion) const override {
        const double s = t - i_.start;
        double along = s < i_.width ? i_.peak * std::sin(std::numbers::pi * s / i_.width) : 0;
        double sway = 0;
        if (const double after = s - i_.width; after >= 0) {
            along += i_.peak * i_.ring_share * std::exp(-after / i_.ring_decay) *
                     std::sin(kTwoPi * i_.ring_hz * after);
            sway = i_.peak * i_.sway_share * std::exp(-after / i_.sway_decay) *
                   std::sin(kTwoPi * i_.sway_hz * after);
        }
        motion.frame = motion.frame + along * i_.direction;
        motion.frame.z += sway;  // the lid rocks on its hinge
    }

  private:
    Impact i_;
};

class OscillationComponent final : public Component {
  public:
    explicit OscillationComponent(const Oscillation& o) : Component(o.start, o.end), o_(o) {}

    void add(double t, Motion& motion) const override {
        const double envelope = std::clamp(std::min(t - o_.start, o_.end - t) / o_.ramp, 0.0, 1.0);
        const double swell = 1 + o_.swell_depth * std::sin(kTwoPi * o_.swell_hz * t);
        const double value =
            o_.amplitude * envelope * swell * std::sin(kTwoPi * o_.hz * t + o_.phase);
        switch (o_.target) {
            case Oscillation::Target::frame:
                motion.frame = motion.frame + value * o_.direction;
                break;
            case Oscillation::Target::vertical:
                motion.vertical += value;
                break;
            case Oscillation::Target::pitch:
                motion.pitch += value;
                break;
            case Oscillation::Target::roll:
                motion.roll += value;
                break;
        }
    }

  private:
    Oscillation o_;
};

class TurnComponent final : public Component {
  public:
    explicit TurnComponent(const Turn& turn)
        : Component(turn.start, turn.start + turn.duration), t_(turn) {}

    void add(double t, Motion& motion) const override {
        const double u = std::clamp((t - t_.start) / t_.duration, 0.0, 1.0);
        // Minimum jerk: position, and its first and second derivatives per unit of u.
        const double s = u * u * u * (10 - 15 * u + 6 * u * u);
        const double ds = 30 * u * u * (1 - u) * (1 - u);
        const double dds = 60 * u * (1 - u) * (1 - 2 * u);
        const double d = t_.duration;
        motion.pitch += t_.pitch * s;
        motion.roll += t_.roll * s;
        motion.vertical += t_.rise * dds / (d * d);
        const double pitch_rate = t_.pitch * ds / d;
        const double roll_rate = t_.roll * ds / d;
        motion.frame.z += t_.radius * t_.pitch * dds / (d * d);
        motion.frame.x += t_.radius * t_.roll * dds / (d * d);
        motion.frame.y -= t_.radius * (pitch_rate * pitch_rate + roll_rate * roll_rate);
    }

    void add_lasting(Motion& motion) const override {
        motion.pitch += t_.pitch;
        motion.roll += t_.roll;
    }

  private:
    Turn t_;
};

}  // namespace

Vec3 unit_vector(const Vec3& v) {
    return (1 / detect::length(v)) * v;
}

Scene::Scene(const Vec3& up) : up_(unit_vector(up)) {}
Scene::~Scene() = default;
Scene::Scene(Scene&&) noexcept = default;
Scene& Scene::operator=(Scene&&) noexcept = default;

void Scene::add(const Impact& impact) {
    pending_.push_back(std::make_unique<ImpactComponent>(impact));
}
void Scene::add(const Oscillation& o) {
    pending_.push_back(std::make_unique<OscillationComponent>(o));
}
void Scene::add(const Turn& turn) {
    pending_.push_back(std::make_unique<TurnComponent>(turn));
}

void Scene::admit(double t) {
    if (!sorted_) {
        std::stable_sort(pending_.begin(), pending_.end(),
                         [](const auto& a, const auto& b) { return a->start() < b->start(); });
        sorted_ = true;
    }
    for (; next_ < pending_.size() && pending_[next_]->start() <= t; ++next_)
        active_.push_back(pending_[next_].get());
    std::erase_if(active_, [&](const Component* c) {
        if (c->end() >= t)
            return false;
        c->add_lasting(lasting_);
        return true;
    });
}

Vec3 Scene::reading(double t) {
    admit(t);
    Motion m = lasting_;
    for (const Component* c : active_) c->add(t, m);
    // The world's up, turned by pitch (about x) and then roll (about y).
    const double y = up_.y * std::cos(m.pitch) - up_.z * std::sin(m.pitch);
    const double z = up_.y * std::sin(m.pitch) + up_.z * std::cos(m.pitch);
    const Vec3 up{up_.x * std::cos(m.roll) + z * std::sin(m.roll), y,
                  -up_.x * std::sin(m.roll) + z * std::cos(m.roll)};
    return (kGravity + m.vertical) * up + m.frame;
}

}  // namespace norvo::tapgen
