#include "norvo/detect/tap_detector.hpp"
#include "detect/knocks.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

namespace {

using norvo::detect::AccelSample;
using norvo::detect::Tap;
using norvo::detect::TapDetector;
using norvo::detect::TapParameters;
using norvo::test::Axes;
using norvo::test::Knock;
using norvo::test::seconds;
using norvo::test::stream;

std::vector<Tap> taps_in(const std::vector<AccelSample>& samples, const TapParameters& p = {}) {
    return norvo::detect::detect_taps(samples, p);
}

class CleanKnock : public testing::TestWithParam<double> {};

// The onset within a sample period of the pulse's start; the strength is the largest departure
// from rest that the samples show, in mm/s².
TEST_P(CleanKnock, IsOneTapAtItsOnset) {
    const double rate = GetParam();
    const Knock knock{2.0037, 3};
    const auto samples = stream(rate, 4, {knock});
    const auto taps = taps_in(samples);
    ASSERT_EQ(taps.size(), 1u);
    EXPECT_NEAR(seconds(taps[0].onset), knock.at, 1 / rate);
    double largest = 0;
    for (const auto& s : samples) largest = std::max(largest, std::fabs(s.z));
    EXPECT_NEAR(taps[0].strength, largest * 1000, largest * 1000 * 0.15);
}

INSTANTIATE_TEST_SUITE_P(Rates, CleanKnock, testing::Values(50.0, 100.0, 200.0, 400.0),
                         [](const auto& info) { return std::to_string(int(info.param)) + "Hz"; });

// What hubs do to a stream: a sample stale (the one before again), samples lost, timestamps
// off by a millisecond either way, readings in steps of 16 mg.
struct HubFault {
    std::string name;
    void (*apply)(std::vector<AccelSample>&);
};

class HubFaults : public testing::TestWithParam<HubFault> {};

TEST_P(HubFaults, NeitherMakeNorHideTaps) {
    const std::vector<Knock> knocks{{1.2, 1.5}, {2.7, 3}, {4.2, 1}, {5.7, 6}};
    auto samples = stream(200, 7, knocks);
    const auto clean = taps_in(samples);
    ASSERT_EQ(clean.size(), knocks.size());
    GetParam().apply(samples);
    const auto faulty = taps_in(samples);
    ASSERT_EQ(faulty.size(), knocks.size());
    for (std::size_t i = 0; i < knocks.size(); ++i)
        EXPECT_NEAR(seconds(faulty[i].onset), seconds(clean[i].onset), 0.005) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Stream, HubFaults,
    testing::Values(HubFault{"repeats",
                             [](auto& s) {
                                 for (std::size_t i = 3; i < s.size(); i += 3) {
                                     const auto time = s[i].time;
                                     s[i] = s[i - 1];
                                     s[i].time = time;
                                 }
                             }},
                    HubFault{"drops",
                             [](auto& s) {
                                 for (std::size_t i = s.size() - 5; i > 0; i -= 5)
                                     s.erase(s.begin() + static_cast<std::ptrdiff_t>(i));
                             }},
                    HubFault{"jitter",
                             [](auto& s) {
                                 const long shifts_us[] = {900, -700, 300, -1000, 600};
                                 for (std::size_t i = 0; i < s.size(); ++i)
                                     s[i].time += std::chrono::microseconds(shifts_us[i % 5]);
                             }},
                    HubFault{"coarse",
                             [](auto& s) {
                                 for (auto& sample : s) {
                                     for (double* v : {&sample.x, &sample.y, &sample.z})
                                         *v = std::round(*v / 0.153) * 0.153;
                                 }
                             }}),
    [](const auto& info) { return info.param.name; });

struct Movement {
    std::string name;
    std::vector<Knock> knocks;
    Axes (*extra)(double);
};

// Minimum-jerk: 0 to 1 over [start, start + duration], and its second derivative.
double ease(double t, double start, double duration) {
    const double u = std::clamp((t - start) / duration, 0.0, 1.0);
    return u * u * u * (10 - 15 * u + 6 * u * u);
}
double ease_acceleration(double t, double start, double duration) {
    const double u = std::clamp((t - start) / duration, 0.0, 1.0);
    return 60 * u * (1 - u) * (1 - 2 * u) / (duration * duration);
}

// Gravity (along y at rest) turned by `angle` about x.
Axes tilted(double angle) {
    return {0, 9.81 * (std::cos(angle) - 1), 9.81 * std::sin(angle)};
}

class Movements : public testing::TestWithParam<Movement> {};

TEST_P(Movements, AreNoTaps) {
    EXPECT_EQ(taps_in(stream(100, 8, GetParam().knocks, GetParam().extra)).size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Machine, Movements,
    testing::Values(Movement{"slow_tilt", {}, [](double t) { return tilted(0.5 * ease(t, 2, 1)); }},
                    Movement{"vibration_switched_on",
                             {},
                             [](double t) {
                                 return Axes{0, 0,
                                             t < 2 ? 0 : std::sin(2 * std::numbers::pi * 25 * t)};
                             }},
                    // Lifted 10 cm and tilted 10 degrees, held, set down with a knock.
                    Movement{"set_down_after_a_lift",
                             {{5.0, 2}},
                             [](double t) {
                                 const double lift = 0.1 * (ease_acceleration(t, 2, 0.5) -
                                                            ease_acceleration(t, 4, 1));
                                 const double angle = 0.17 * (ease(t, 2, 0.5) - ease(t, 4, 1));
                                 Axes a = tilted(angle);
                                 a.y += lift;
                                 return a;
                             }}),
    [](const auto& info) { return info.param.name; });

// Each row: one parameter set, the knocks, how many taps.
struct ParameterCase {
    std::string name;
    void (*set)(TapParameters&);
    std::vector<Knock> knocks;
    std::size_t taps;
};

class Parameters : public testing::TestWithParam<ParameterCase> {};

TEST_P(Parameters, DecideWhatIsATap) {
    TapParameters p;
    GetParam().set(p);
    EXPECT_EQ(taps_in(stream(100, 4, GetParam().knocks), p).size(), GetParam().taps);
}

// The long knock lasts 100 ms, 67 ms at half its height; motion is left out of its judgement.
INSTANTIATE_TEST_SUITE_P(
    Taps, Parameters,
    testing::Values(
        ParameterCase{
            "refractory_hides_a_second_tap", [](TapParameters&) {}, {{1.5, 3}, {1.7, 3}}, 1},
        ParameterCase{"no_refractory",
                      [](TapParameters& p) { p.refractory = std::chrono::milliseconds(0); },
                      {{1.5, 3}, {1.7, 3}},
                      2},
        ParameterCase{"after_the_refractory", [](TapParameters&) {}, {{1.5, 3}, {1.9, 3}}, 2},
        ParameterCase{
            "long_knock", [](TapParameters& p) { p.motion_threshold = 50; }, {{2, 2, 0.1}}, 0},
        ParameterCase{"long_knock_within_max_width",
                      [](TapParameters& p) {
                          p.motion_threshold = 50;
                          p.max_width = std::chrono::milliseconds(100);
                      },
                      {{2, 2, 0.1}},
                      1}),
    [](const auto& info) { return info.param.name; });

TEST(TapDetector, IsDeterministicAndPassesOverSamplesItCannotUse) {
    auto samples = stream(100, 8, {{1.5, 2}, {3.1, 4}, {5.2, 1.2}}, [](double t) {
        return Axes{0, 0, t > 6 ? 0.8 * std::sin(2 * std::numbers::pi * 30 * t) : 0};
    });
    const auto taps = taps_in(samples);
    ASSERT_EQ(taps.size(), 3u);
    EXPECT_EQ(taps_in(samples), taps);
    // Not finite, or no later than the sample before.
    for (std::size_t i = samples.size() - 7; i > 50; i -= 7) {
        AccelSample bad = samples[i];
        bad.time += std::chrono::microseconds(1);
        bad.z = std::numeric_limits<double>::quiet_NaN();
        AccelSample stale = samples[i - 1];
        stale.z += 5;
        samples.insert(samples.begin() + static_cast<std::ptrdiff_t>(i) + 1, {bad, stale});
    }
    EXPECT_EQ(taps_in(samples), taps);
}

TEST(TapDetector, FinishDecidesATapTheStreamEndedTooSoonFor) {
    const auto samples = stream(100, 2.05, {{2.0, 3}});
    TapDetector detector;
    for (const auto& s : samples) EXPECT_FALSE(detector.push(s));
    const auto tap = detector.finish();
    ASSERT_TRUE(tap);
    EXPECT_NEAR(seconds(tap->onset), 2.0, 0.01);
}

}  // namespace
