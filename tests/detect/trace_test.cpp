#include "norvo/detect/trace.hpp"
#include "support/case_name.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace norvo::detect;
using std::chrono::milliseconds;

struct ErrorCase {
    std::string text;
    std::size_t line;
    std::string reason;
};

class TraceErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(TraceErrors, NameTheLineAndTheReason) {
    const auto trace = parse_trace(GetParam().text);
    std::expected<std::vector<TapLabel>, TraceError> labels(std::unexpect, TraceError{});
    labels = trace ? tap_labels(*trace) : std::unexpected(trace.error());
    ASSERT_FALSE(labels.has_value()) << GetParam().text;
    EXPECT_EQ(labels.error().line, GetParam().line);
    EXPECT_EQ(labels.error().reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Trace, TraceErrors,
    testing::Values(
        ErrorCase{"", 1, "no header line 'time_s,x,y,z'"},
        ErrorCase{"# rate_hz=100\n\n", 3, "no header line 'time_s,x,y,z'"},
        ErrorCase{"t,x,y,z\n", 1, "expected the header 'time_s,x,y,z', found 't,x,y,z'"},
        ErrorCase{"time_s, x, y, z\n", 1,
                  "expected the header 'time_s,x,y,z', found 'time_s, x, y, z'"},
        ErrorCase{"time_s,x,y,z\n1,2,3\n", 2,
                  "expected 4 comma-separated values (time_s,x,y,z), found 3"},
        ErrorCase{"time_s,x,y,z\n1,2,3,4,\n", 2,
                  "expected 4 comma-separated values (time_s,x,y,z), found 5"},
        ErrorCase{"time_s,x,y,z\nnow,0,0,9.8\n", 2,
                  "time 'now' is not a decimal number of seconds"},
        ErrorCase{"time_s,x,y,z\n1e10,0,0,9.8\n", 2,
                  "time '1e10' is out of range (at most 9e9 s either side of 0)"},
        ErrorCase{"time_s,x,y,z\n1, 0,0,9.8\n", 2, "x ' 0' is not a decimal number of m/s²"},
        ErrorCase{"time_s,x,y,z\n1,0,nan,9.8\n", 2, "y 'nan' is not a decimal number of m/s²"},
        ErrorCase{"time_s,x,y,z\n1,0,0,\n", 2, "z '' is not a decimal number of m/s²"},
        ErrorCase{"time_s,x,y,z\n1,0,0,inf\n", 2, "z 'inf' is not a decimal number of m/s²"},
        ErrorCase{"time_s,x,y,z\n1.5,0,0,9.8\n# ok\n1.5,0,0,9.8\n", 4,
                  "time 1.500000 s is not after the sample before (1.500000 s)"},
        ErrorCase{"time_s,x,y,z\n2,0,0,9.8\n1,0,0,9.8\n", 3,
                  "time 1.000000 s is not after the sample before (2.000000 s)"},
        ErrorCase{"# tap=soon\ntime_s,x,y,z\n", 1,
                  "tap label: time 'soon' is not a decimal number of seconds"},
        ErrorCase{"time_s,x,y,z\n# tap=1.2 hard\n", 2, "tap label: 'hard' is not peak=M/S2"},
        ErrorCase{"time_s,x,y,z\n# tap=1.2 peak=\n", 2, "tap label: 'peak=' is not peak=M/S2"}),
    [](const auto& info) { return norvo::test::case_name(info.index, info.param.reason); });

TEST(Trace, CommentsBlankLinesAndCarriageReturnsAnywhere) {
    const auto trace = parse_trace(
        "#rate_hz=100\r\n# tap=0.0125 peak=2.5\r\n\r\ntime_s,x,y,z\r\n-0.5,0.25,-9.75,1e-3\r\n"
        "# tap=0.75\n0.0125,0,0,0");
    ASSERT_TRUE(trace) << trace.error().reason;
    ASSERT_EQ(trace->samples.size(), 2u);
    EXPECT_EQ(trace->samples[0].time, milliseconds(-500));
    EXPECT_EQ(trace->samples[0].y, -9.75);
    EXPECT_EQ(trace->samples[0].z, 0.001);
    EXPECT_EQ(trace->comments[0].text, "rate_hz=100");
    EXPECT_EQ(trace->comments[2].line, 6u);
    const auto labels = tap_labels(*trace);
    ASSERT_TRUE(labels);
    EXPECT_EQ(*labels, (std::vector<TapLabel>{{std::chrono::microseconds(12500), 2.5},
                                              {milliseconds(750), std::nullopt}}));
}

// What the writer writes, the parser reads back: times to the microsecond, accelerations to
// 10 µm/s², labels as they were.
TEST(Trace, WrittenTracesReadBack) {
    const std::vector<AccelSample> samples{
        {std::chrono::nanoseconds(-1'000'000'499), 0.012345, -9.80665, 123.456789},
        {std::chrono::nanoseconds(1'234'567'890'123'456), -0.000004, -0.0, 1}};
    const TapLabel label{std::chrono::microseconds(-250), 1.25};
    std::string text = trace_comment("made here") + tap_label_comment(label) + trace_header();
    for (const auto& s : samples) text += trace_line(s);
    const auto trace = parse_trace(text);
    ASSERT_TRUE(trace) << trace.error().reason;
    ASSERT_EQ(trace->samples.size(), samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        EXPECT_NEAR(trace->samples[i].time.count(), samples[i].time.count(), 500);
        EXPECT_NEAR(trace->samples[i].x, samples[i].x, 5e-6);
        EXPECT_NEAR(trace->samples[i].y, samples[i].y, 5e-6);
        EXPECT_NEAR(trace->samples[i].z, samples[i].z, 5e-6);
    }
    EXPECT_EQ(trace_line(samples[1]), "1234567.890123,0.00000,0.00000,1.00000\n");
    EXPECT_EQ(trace->comments[0].text, "made here");
    EXPECT_EQ(tap_labels(*trace).value(), std::vector<TapLabel>{label});
}

TEST(Trace, SecondsAreRoundedHalfAwayFromZero) {
    EXPECT_EQ(format_seconds(std::chrono::nanoseconds(1'234'550'000), 4), "1.2346");
    EXPECT_EQ(format_seconds(std::chrono::nanoseconds(-1'234'550'000), 4), "-1.2346");
    EXPECT_EQ(format_seconds(std::chrono::nanoseconds(-40'000), 4), "0.0000");
    EXPECT_EQ(format_seconds(std::chrono::nanoseconds(-50'000), 4), "-0.0001");
    EXPECT_EQ(format_seconds(std::chrono::nanoseconds(999'999'999), 6), "1.000000");
}

}  // namespace
