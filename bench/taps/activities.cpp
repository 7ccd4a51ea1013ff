#include "activities.hpp"

#include <array>
#include <cmath>
#include <numbers>

namespace norvo::tapgen {

namespace {

constexpr double kDegree = std::numbers::pi / 180;
constexpr std::array<std::string_view, 8> kNames{"taps-rest", "taps-typing", "typing",    "clicks",
                                                 "lift",      "walk",        "vibration", "lid"};

Vec3 random_direction(Rng& rng) {
    return unit_vector({rng.normal(), rng.normal(), rng.normal()});
}

// A direction within about `spread` radians of `axis`.
Vec3 around(const Vec3& axis, double spread, Rng& rng) {
    return unit_vector(axis + spread * random_direction(rng));
}

// The world's up in the sensor's axes, for a lid opened `opening` radians from closed.
Vec3 lid_up(double opening) {
    const double lean = opening - std::numbers::pi / 2;
    return {0, std::cos(lean), std::sin(lean)};
}

// How the machine answers a knock, where the sensor sits: whatever strikes it (a finger, a key
// at the end of its travel, the trackpad's switch, the desk), the sensor feels one pulse shaped
// by the lid's structure, as long as half a period of its first mode (25 to 60 Hz), then that
// mode ringing and the lid rocking on its hinge.
struct Machine {
    Vec3 up;
    double pulse = 0.012;  // seconds
    double ring_hz = 40;
    double sway_hz = 8;
};

Impact impact(const Machine& machine, double start, double peak, const Vec3& direction, Rng& rng) {
    Impact i;
    i.start = start;
    i.peak = peak;
    i.width = machine.pulse * rng.uniform(0.85, 1.15);
    i.direction = direction;
    i.ring_share = rng.uniform(0.1, 0.3);
    i.ring_hz = machine.ring_hz * rng.uniform(0.9, 1.1);
    i.ring_decay = rng.uniform(0.01, 0.03);
    i.sway_share = rng.uniform(0.03, 0.1);
    i.sway_hz = machine.sway_hz * rng.uniform(0.9, 1.1);
    i.sway_decay = rng.uniform(0.08, 0.25);
    return i;
}

// A finger's tap on the lid (front or back), the palm rest or a side.
std::vector<detect::TapLabel> add_taps(Scene& scene, const Machine& machine, double seconds,
                                       Rng& rng) {
    const std::array<Vec3, 3> places{Vec3{0, 0, 1}, machine.up, Vec3{1, 0, 0}};
    std::vector<detect::TapLabel> taps;
    for (double t = rng.uniform(1, 2); t < seconds - 1; t += rng.uniform(1.5, 4)) {
        const double peak = rng.log_uniform(0.8, 6);
        const Vec3 place = places[rng.next() % places.size()];
        scene.add(impact(machine, t, peak, around(rng.sign() * place, 0.3, rng), rng));
        taps.push_back({detect::Timestamp(std::llround(t * 1e9)), peak});
    }
    return taps;
}

// A press against the machine and its release: the press's peak log-normal (median, spread,
// never above the cap), within `aim` radians of the machine's down; the release, back up,
// `after` seconds later with `share` of that peak.
struct Press {
    double median;
    double spread;
    double cap;
    double aim;
    double after_least, after_most;
    double share_least, share_most;
};

// A key to the bottom of its travel; a trackpad's mechanical click and its weaker snap back.
constexpr Press kKeystroke{0.1, 0.4, 0.35, 0.35, 0.06, 0.15, 0.2, 0.4};
constexpr Press kClick{0.15, 0.35, 0.5, 0.25, 0.06, 0.2, 0.4, 0.9};

void add_press(Scene& scene, const Machine& machine, double start, const Press& p, Rng& rng) {
    // One draw a statement: the order of a call's arguments is the compiler's choice.
    const double peak = rng.log_normal(p.median, p.spread, p.cap);
    scene.add(impact(machine, start, peak, around(-1.0 * machine.up, p.aim, rng), rng));
    const double release = start + rng.uniform(p.after_least, p.after_most);
    const double share = rng.uniform(p.share_least, p.share_most);
    scene.add(impact(machine, release, peak * share, around(machine.up, p.aim, rng), rng));
}

// Bursts of 5 to 20 words of 2 to 8 keys, about six keys a second, with pauses of 1 to 5 s.
void add_typing(Scene& scene, const Machine& machine, double seconds, Rng& rng) {
    for (double t = rng.uniform(0, 0.5); t < seconds;) {
        const auto words = 5 + rng.next() % 16;
        for (std::uint64_t w = 0; w < words && t < seconds; ++w) {
            const auto keys = 2 + rng.next() % 7;
            for (std::uint64_t k = 0; k < keys; ++k) {
                add_press(scene, machine, t, kKeystroke, rng);
                t += rng.log_normal(0.16, 0.3, 0.4);
            }
            t += rng.uniform(0.05, 0.3);
        }
        t += rng.uniform(1, 5);
    }
}

void add_clicks(Scene& scene, const Machine& machine, double seconds, Rng& rng) {
    for (double t = rng.uniform(0.5, 2); t < seconds; t += rng.uniform(1, 6)) {
        add_press(scene, machine, t, kClick, rng);
        if (rng.chance(0.2))
            add_press(scene, machine, t + rng.uniform(0.25, 0.4), kClick, rng);  // a double click
    }
}

// Hands holding the machine: tremor at 8 to 12 Hz and a slow sway of its attitude.
void add_holding(Scene& scene, double from, double to, Rng& rng) {
    Oscillation tremor;
    tremor.direction = random_direction(rng);
    tremor.start = from;
    tremor.end = to;
    tremor.ramp = 0.2;
    tremor.hz = rng.uniform(8, 12);
    tremor.amplitude = rng.uniform(0.03, 0.15);
    scene.add(tremor);
    Oscillation sway;
    sway.target = Oscillation::Target::pitch;
    sway.start = from;
    sway.end = to;
    sway.ramp = 0.5;
    sway.hz = rng.uniform(0.3, 1);
    sway.amplitude = rng.uniform(0.5, 2) * kDegree;
    scene.add(sway);
}

// Put back down on its feet.
void add_set_down(Scene& scene, const Machine& machine, double at, double peak, Rng& rng) {
    Impact i = impact(machine, at, peak, around(machine.up, 0.3, rng), rng);
    i.sway_share = rng.uniform(0.1, 0.3);
    scene.add(i);
}

// The machine turned (and raised) by `out`, held, brought back over `back_duration` and set down
// with a knock of `knock`, in hands all along.
double add_there_and_back(Scene& scene, const Machine& machine, const Turn& out, double hold,
                          double back_duration, double knock, Rng& rng) {
    scene.add(out);
    Turn back = out;
    back.start = out.start + out.duration + hold;
    back.duration = back_duration;
    back.pitch = -out.pitch;
    back.roll = -out.roll;
    back.rise = -out.rise;
    scene.add(back);
    const double end = back.start + back.duration;
    add_holding(scene, out.start, end, rng);
    add_set_down(scene, machine, end, knock, rng);
    return end;
}

// Lifted 5 to 20 cm, tilted on the way, held for a while, set down; the hands first grip it.
double add_lift(Scene& scene, const Machine& machine, double t, Rng& rng) {
    if (rng.chance(0.7)) {
        const double grip_start = t - rng.uniform(0.1, 0.3);
        const double grip_peak = rng.uniform(0.1, 0.5);
        const Vec3 side{rng.sign(), 0, 0};
        Impact grip = impact(machine, grip_start, grip_peak, around(side, 0.5, rng), rng);
        grip.width = rng.uniform(0.04, 0.1);  // a hand closing, not a knock
        scene.add(grip);
    }
    Turn up;
    up.start = t;
    up.duration = rng.uniform(0.4, 0.8);
    up.pitch = rng.either_way(3, 15) * kDegree;
    up.roll = rng.either_way(0, 8) * kDegree;
    up.rise = rng.uniform(0.05, 0.2);
    up.radius = rng.uniform(0.1, 0.3);
    const double hold = rng.uniform(0.5, 3);
    const double down = rng.uniform(0.4, 1);
    return add_there_and_back(scene, machine, up, hold, down, rng.log_uniform(0.3, 5), rng);
}

// One edge raised 5 to 25 degrees and let down again.
double add_tilt(Scene& scene, const Machine& machine, double t, Rng& rng) {
    Turn turn;
    turn.start = t;
    turn.duration = rng.uniform(0.3, 1);
    const double angle = rng.either_way(5, 25) * kDegree;
    (rng.chance(0.5) ? turn.pitch : turn.roll) = angle;
    turn.radius = rng.uniform(0.1, 0.3);
    const double hold = rng.uniform(0.3, 2);
    const double back = rng.uniform(0.3, 1);
    return add_there_and_back(scene, machine, turn, hold, back, rng.log_uniform(0.3, 4), rng);
}

void add_lifts(Scene& scene, const Machine& machine, double seconds, Rng& rng) {
    for (double t = rng.uniform(1, 3); t < seconds - 6; t += rng.uniform(3, 10))
        t = rng.chance(0.5) ? add_lift(scene, machine, t, rng) : add_tilt(scene, machine, t, rng);
}

Oscillation oscillation(Oscillation::Target target, double from, double to, double hz,
                        double amplitude, Rng& rng) {
    Oscillation o;
    o.target = target;
    o.start = from;
    o.end = to;
    o.ramp = 1;
    o.hz = hz;
    o.amplitude = amplitude;
    o.phase = rng.uniform(0, 2 * std::numbers::pi);
    return o;
}

// Walks of 8 to 30 s at 1.6 to 2.2 steps a second, with stops of 1 to 5 s, carried all along:
// the bounce of each step, sway, heel strikes through the arms.
void add_walk(Scene& scene, const Vec3& up, double seconds, Rng& rng) {
    using Target = Oscillation::Target;
    add_holding(scene, 0, seconds, rng);
    for (double t = rng.uniform(0, 1); t < seconds;) {
        const double end = std::min(seconds, t + rng.uniform(8, 30));
        const double step = rng.uniform(1.6, 2.2);
        scene.add(oscillation(Target::vertical, t, end, step, rng.uniform(0.8, 2.5), rng));
        scene.add(oscillation(Target::vertical, t, end, 2 * step, rng.uniform(0.2, 0.8), rng));
        Oscillation fore = oscillation(Target::frame, t, end, step, rng.uniform(0.3, 1.2), rng);
        fore.direction = around({0, 0, 1}, 0.3, rng);
        scene.add(fore);
        Oscillation side = oscillation(Target::frame, t, end, step / 2, rng.uniform(0.2, 0.8), rng);
        side.direction = around({1, 0, 0}, 0.3, rng);
        scene.add(side);
        scene.add(oscillation(Target::pitch, t, end, step, rng.uniform(1, 4) * kDegree, rng));
        scene.add(oscillation(Target::roll, t, end, step / 2, rng.uniform(1, 4) * kDegree, rng));
        for (double strike = t + 1; strike < end - 1; strike += 1 / step) {
            Impact heel;
            heel.start = strike + rng.uniform(-0.01, 0.01);
            heel.peak = rng.uniform(0.5, 2.5);
            heel.width = rng.uniform(0.015, 0.04);  // through the arms, not the chassis
            heel.direction = around(up, 0.3, rng);
            heel.ring_share = 0.1;
            heel.sway_share = rng.uniform(0.1, 0.2);
            scene.add(heel);
        }
        t = end + rng.uniform(1, 5);
    }
}

// Machines nearby or under the desk, 10 to 60 Hz, switched on for 10 to 60 s at a time.
void add_vibration(Scene& scene, double seconds, Rng& rng) {
    for (double t = rng.uniform(0, 3); t < seconds;) {
        const double end = t + rng.uniform(10, 60);
        const double hz = rng.uniform(10, 60);
        const double amplitude = rng.log_uniform(0.03, 1);
        Oscillation o = oscillation(Oscillation::Target::frame, t, end, hz, amplitude, rng);
        o.direction = random_direction(rng);
        o.ramp = rng.uniform(0.05, 0.3);
        o.swell_hz = rng.uniform(0.1, 0.5);
        o.swell_depth = rng.uniform(0, 0.2);
        scene.add(o);
        Oscillation harmonic = o;
        harmonic.hz = 2 * o.hz;
        harmonic.amplitude = o.amplitude * rng.uniform(0, 0.5);
        scene.add(harmonic);
        t = end + rng.uniform(3, 20);
    }
}

// The lid opened from closed and shut again: its magnets let go, it swings open and stops at
// its detent (rocking), later it is shut onto the base.
void add_lid(Scene& scene, const Machine& machine, double opening, double seconds, Rng& rng) {
    Turn closed;
    closed.start = -1;
    closed.pitch = -opening;
    scene.add(closed);
    for (double t = rng.uniform(1, 3); t < seconds - 4;) {
        Turn open;
        open.start = t;
        open.duration = rng.uniform(0.6, 2);
        open.pitch = opening;
        open.radius = rng.uniform(0.15, 0.25);
        scene.add(open);
        const double release = rng.uniform(0.2, 0.8);
        scene.add(impact(machine, t, release, around({0, 0, 1}, 0.3, rng), rng));
        const double stop = rng.uniform(0.3, 2);
        Impact detent = impact(machine, t + open.duration, stop, around({0, 0, 1}, 0.3, rng), rng);
        detent.sway_share = rng.uniform(0.3, 0.6);
        detent.sway_hz = rng.uniform(5, 10);
        detent.sway_decay = rng.uniform(0.15, 0.4);
        scene.add(detent);
        Turn shut = open;
        shut.start = t + open.duration + rng.uniform(2, 6);
        shut.duration = rng.uniform(0.5, 1.5);
        shut.pitch = -opening;
        scene.add(shut);
        const double end = shut.start + shut.duration;
        const double shut_knock = rng.log_uniform(1, 5);
        scene.add(impact(machine, end, shut_knock, around({0, 0, -1}, 0.3, rng), rng));
        t = end + rng.uniform(1, 3);
    }
}

}  // namespace

std::string_view kind_name(Kind kind) {
    return kNames[static_cast<std::size_t>(kind)];
}

bool has_taps(Kind kind) {
    return kind == Kind::taps_rest || kind == Kind::taps_typing;
}

Staged stage(Kind kind, double seconds, Rng& rng) {
    const double opening = rng.uniform(95, 130) * kDegree;
    // Walking, the machine is open in the hands or shut and upright under an arm.
    const bool shut_under_arm = kind == Kind::walk && rng.chance(0.5);
    const double turned = rng.uniform(0, 2 * std::numbers::pi);
    const Vec3 up = shut_under_arm ? Vec3{std::cos(turned), std::sin(turned), 0} : lid_up(opening);
    const double mode_hz = rng.uniform(25, 60);
    const Machine machine{up, 1 / (2 * mode_hz), mode_hz, rng.uniform(5, 12)};
    Staged staged{Scene(up), {}};
    Scene& scene = staged.scene;
    switch (kind) {
        case Kind::taps_rest:
            staged.taps = add_taps(scene, machine, seconds, rng);
            break;
        case Kind::taps_typing:
            add_typing(scene, machine, seconds, rng);
            staged.taps = add_taps(scene, machine, seconds, rng);
            break;
        case Kind::typing:
            add_typing(scene, machine, seconds, rng);
            break;
        case Kind::clicks:
            add_clicks(scene, machine, seconds, rng);
            break;
        case Kind::lift:
            add_lifts(scene, machine, seconds, rng);
            break;
        case Kind::walk:
            add_walk(scene, up, seconds, rng);
            break;
        case Kind::vibration:
            add_vibration(scene, seconds, rng);
            break;
        case Kind::lid:
            add_lid(scene, machine, opening, seconds, rng);
            break;
    }
    return staged;
}

}  // namespace norvo::tapgen
