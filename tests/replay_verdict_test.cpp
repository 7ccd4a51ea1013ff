#include "norvo/replay/verdict.hpp"
#include "support/case_name.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace norvo::replay;
using norvo::log::CapturedRecord;
using norvo::log::Level;
using Lines = std::vector<std::string>;

struct DiffCase {
    Lines expected;
    Lines actual;
    Lines diff;
};

class DiffLines : public testing::TestWithParam<DiffCase> {};

TEST_P(DiffLines, MarkExpectedOnlyAndActualOnlyLines) {
    EXPECT_EQ(diff_lines(GetParam().expected, GetParam().actual), GetParam().diff);
}

INSTANTIATE_TEST_SUITE_P(
    Transcripts, DiffLines,
    testing::Values(DiffCase{{"a", "b"}, {"a", "b"}, {"  a", "  b"}}, DiffCase{{}, {"a"}, {"+ a"}},
                    DiffCase{{"a"}, {}, {"- a"}},
                    DiffCase{{"a", "b", "c"}, {"a", "x", "c"}, {"  a", "- b", "+ x", "  c"}},
                    DiffCase{{"a", "b"}, {"b", "a"}, {"- a", "  b", "+ a"}},
                    DiffCase{{"s", "t1", "t2"}, {"s", "t2"}, {"  s", "- t1", "  t2"}},
                    DiffCase{{"s", "t"}, {"s", "t", "t"}, {"  s", "  t", "+ t"}}),
    [](const auto& info) {
        std::string diff;
        for (const auto& line : info.param.diff) diff += line;
        return norvo::test::case_name(info.index, diff);
    });

CapturedRecord record(Level level, std::string message) {
    return {level, "vxt_impl::rpc_server", "f.cpp", 1, std::move(message)};
}

TEST(MissingLogs, MustAppearInOrderWithTheirLevel) {
    const std::vector<CapturedRecord> log{record(Level::Info, "one"), record(Level::Error, "two"),
                                          record(Level::Info, "three"), record(Level::Info, "one")};
    EXPECT_TRUE(missing_logs(
                    std::vector<ExpectedLog>{
                        {Level::Info, "one"}, {Level::Error, "two"}, {Level::Info, "one"}},
                    log)
                    .empty());
    // Out of order: "two" comes before "three", so after "three" it is missing.
    EXPECT_EQ(
        missing_logs(std::vector<ExpectedLog>{{Level::Info, "three"}, {Level::Error, "two"}}, log),
        (std::vector<ExpectedLog>{{Level::Error, "two"}}));
    // Wrong level, and a repeated line seen only once after the first match.
    EXPECT_EQ(missing_logs(
                  std::vector<ExpectedLog>{
                      {Level::Info, "two"}, {Level::Info, "three"}, {Level::Info, "three"}},
                  log),
              (std::vector<ExpectedLog>{{Level::Info, "two"}, {Level::Info, "three"}}));
}

TEST(Judge, PassesOnlyWithTheExactTranscriptAndEveryLogLine) {
    Scenario scenario;
    scenario.expected_transcript = {"SignalReturn 0x0 cookie=1"};
    scenario.expected_logs = {{Level::Info, "Sensor loop started"}};
    const Outcome good{{"SignalReturn 0x0 cookie=1"}, {record(Level::Info, "Sensor loop started")}};
    EXPECT_TRUE(judge(scenario, good).passed);
    EXPECT_TRUE(judge(scenario, good).details.empty());

    const Outcome extra{{"SignalReturn 0x0 cookie=1", "TapEvent Confirmed ts=1 cookie=1"},
                        {record(Level::Info, "Sensor loop started")}};
    auto verdict = judge(scenario, extra);
    EXPECT_FALSE(verdict.passed);
    EXPECT_EQ(verdict.details[0], "transcript (- expected, + actual):");
    EXPECT_EQ(verdict.details[1], "    SignalReturn 0x0 cookie=1");
    EXPECT_EQ(verdict.details[2], "  + TapEvent Confirmed ts=1 cookie=1");

    const Outcome quiet{{"SignalReturn 0x0 cookie=1"},
                        {record(Level::Debug, "Sensor loop started")}};
    verdict = judge(scenario, quiet);
    EXPECT_FALSE(verdict.passed);
    EXPECT_EQ(verdict.details[0], "missing log line: Info Sensor loop started");
    EXPECT_EQ(verdict.details[1], "captured log:");
    EXPECT_EQ(verdict.details[2], "  Debug Sensor loop started");
}

}  // namespace
