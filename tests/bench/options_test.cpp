#include "options.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace norvo::bench {
namespace {

[[nodiscard]] std::expected<BenchOptions, std::string> parse(std::vector<std::string_view> args) {
    return parse_bench_options(args, "/built/norvo-vtapd", "/src/docs/performance.md");
}

TEST(BenchOptions, FullRunWritesTheReport) {
    const auto options = parse({});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->mode, "full");
    EXPECT_EQ(options->daemon, "/built/norvo-vtapd");
    EXPECT_EQ(options->output, "/src/docs/performance.md");
    EXPECT_EQ(options->sizes.scale_clients, 1000u);
    EXPECT_EQ(options->sizes.idle_clients, 100u);
    EXPECT_EQ(options->sizes.idle_time, std::chrono::seconds(10));
}

TEST(BenchOptions, ReducedRunsPrintOnlyUnlessAskedToWrite) {
    const auto quick = parse({"--quick"});
    ASSERT_TRUE(quick);
    EXPECT_EQ(quick->mode, "quick");
    EXPECT_FALSE(quick->output);
    EXPECT_EQ(quick->sizes.scale_clients, 1000u);  // the memory goal is still measured
    EXPECT_LT(quick->sizes.round_trips, full_sizes().round_trips);

    const auto smoke = parse({"--smoke", "--output", "/tmp/r.md", "--daemon", "/d"});
    ASSERT_TRUE(smoke);
    EXPECT_EQ(smoke->output, "/tmp/r.md");
    EXPECT_EQ(smoke->daemon, "/d");
    EXPECT_LT(smoke->sizes.scale_clients, quick->sizes.scale_clients);
}

TEST(BenchOptions, PinTakesOneCpuNumber) {
    EXPECT_FALSE(parse({})->pin);
    EXPECT_EQ(parse({"--pin", "0"})->pin, 0);
    EXPECT_EQ(parse({"--quick", "--pin", "13"})->pin, 13);
}

TEST(BenchOptions, UsageErrors) {
    const std::vector<std::vector<std::string_view>> bad{{"--quick", "--smoke"},
                                                         {"--output"},
                                                         {"--daemon"},
                                                         {"--fast"},
                                                         {"quick"},
                                                         {"--pin"},
                                                         {"--pin", "-1"},
                                                         {"--pin", "1x"},
                                                         {"--pin", "99999"}};
    for (const auto& args : bad) EXPECT_FALSE(parse(args)) << args.front();
}

}  // namespace
}  // namespace norvo::bench
