#include "norvo/detect/tap_options.hpp"
#include "support/case_name.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace norvo::detect;
using std::chrono::milliseconds;

std::expected<std::size_t, std::string> parse(std::vector<std::string_view> args,
                                              TapParameters& p) {
    return parse_tap_option(args, 0, p);
}

TEST(TapOptions, TakeAValueInTheOptionsUnitOrWithItsUnit) {
    TapParameters p;
    EXPECT_EQ(parse({"--tap-threshold", "0.5"}, p), 2u);
    EXPECT_EQ(p.threshold, 0.5);
    EXPECT_EQ(parse({"--tap-motion-threshold=0.6m/s2"}, p), 1u);
    EXPECT_EQ(p.motion_threshold, 0.6);
    EXPECT_EQ(parse({"--tap-threshold", "0.7m/s²"}, p), 2u);
    EXPECT_EQ(p.threshold, 0.7);
    EXPECT_EQ(parse({"--tap-max-width", "30"}, p), 2u);
    EXPECT_EQ(p.max_width, milliseconds(30));
    EXPECT_EQ(parse({"--tap-quiet-after=120ms"}, p), 1u);
    EXPECT_EQ(p.quiet_after, milliseconds(120));
    EXPECT_EQ(parse({"--tap-motion-hold", "1.5s"}, p), 2u);
    EXPECT_EQ(p.motion_hold, milliseconds(1500));
    EXPECT_EQ(parse({"--tap-noise-factor", "0"}, p), 2u);
    EXPECT_EQ(p.noise_factor, 0);
    EXPECT_TRUE(validate(p));
    EXPECT_NE(describe(p).find("quiet after 120 ms"), std::string::npos) << describe(p);
}

TEST(TapOptions, OthersAreLeftToTheCaller) {
    TapParameters p;
    EXPECT_EQ(parse({"--socket", "/run/x"}, p), 0u);
    EXPECT_EQ(parse({"--tap-thresholds=1"}, p), 0u);
    EXPECT_EQ(parse({"tap-threshold"}, p), 0u);
}

struct ErrorCase {
    std::vector<std::string_view> args;
    std::string reason;
};

class TapOptionErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(TapOptionErrors, SayWhatIsWrong) {
    TapParameters p;
    const auto taken = parse(GetParam().args, p);
    ASSERT_FALSE(taken);
    EXPECT_EQ(taken.error(), GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Values, TapOptionErrors,
    testing::Values(
        ErrorCase{{"--tap-threshold"}, "--tap-threshold needs M/S2"},
        ErrorCase{{"--tap-refractory", ""}, "--tap-refractory needs MS"},
        ErrorCase{{"--tap-threshold", "hard"},
                  "--tap-threshold 'hard' is not an acceleration in m/s² (like 0.4 or 0.4m/s2)"},
        ErrorCase{{"--tap-threshold=0.4g"},
                  "--tap-threshold '0.4g' is not an acceleration in m/s² (like 0.4 or 0.4m/s2)"},
        ErrorCase{{"--tap-max-width", "40us"},
                  "--tap-max-width '40us' is not a duration in ms (like 40, 40ms or 0.04s)"},
        ErrorCase{{"--tap-noise-factor", "5x"}, "--tap-noise-factor '5x' is not a number"},
        ErrorCase{{"--tap-threshold", "nan"},
                  "--tap-threshold 'nan' is not an acceleration in m/s² (like 0.4 or 0.4m/s2)"},
        ErrorCase{{"--tap-threshold", "80"},
                  "--tap-threshold 80 m/s² is out of range (0.05 to 50)"},
        ErrorCase{{"--tap-quiet-before", "-1"},
                  "--tap-quiet-before -1 ms is out of range (0 to 1000)"},
        ErrorCase{{"--tap-max-width", "12.5"},
                  "--tap-max-width 12.5 ms is not a whole number of milliseconds"}),
    [](const auto& info) { return norvo::test::case_name(info.index, info.param.reason); });

TEST(TapOptions, HelpNamesEveryOptionWithItsDefault) {
    const std::string help = tap_options_help();
    for (const char* line :
         {"--tap-threshold M/S2", "(default 0.4 m/s²)", "--tap-max-width MS", "(default 25 ms)",
          "--tap-noise-factor K", "(default 5)", "--tap-motion-hold MS", "(default 1000 ms)"})
        EXPECT_NE(help.find(line), std::string::npos) << line << "\n" << help;
}

TEST(TapOptions, ValidateHoldsParametersMadeInCodeToTheSameRanges) {
    EXPECT_TRUE(validate({}));
    TapParameters p;
    p.max_width = milliseconds(0);
    EXPECT_EQ(validate(p).error(), "--tap-max-width 0 ms is out of range (1 to 500)");
}

}  // namespace
