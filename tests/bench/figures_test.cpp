#include <gtest/gtest.h>

#include <vector>

#include "report.hpp"
#include "stats.hpp"

namespace norvo::bench {
namespace {

TEST(Percentiles, NearestRankOfUnsortedSamples) {
    std::vector<double> samples;
    for (int i = 100; i >= 1; --i) samples.push_back(i);
    const auto p = percentiles(samples);
    EXPECT_EQ(p.p50, 50);
    EXPECT_EQ(p.p99, 99);
}

TEST(Percentiles, SmallAndEmptySets) {
    const std::vector<double> one{7};
    EXPECT_EQ(percentiles(one).p50, 7);
    EXPECT_EQ(percentiles(one).p99, 7);
    // With fewer than a hundred samples the p99 is the largest one.
    const std::vector<double> three{3, 1, 2};
    EXPECT_EQ(percentiles(three).p50, 2);
    EXPECT_EQ(percentiles(three).p99, 3);
    EXPECT_EQ(percentiles({}).p99, 0);
}

Figures meeting_every_goal() {
    Figures f;
    f.round_trip = {15, 30};
    f.raw_ping_pong = {10, 20};
    f.sd_bus = Percentiles{15, 30};
    f.confirmation = {30, 40};
    f.flood_quiet = {20, 50};
    f.flooded = {30, 100};
    f.lateness = {100, 2000};
    f.idle_context_switches = 0;
    f.scale_clients = 1000;
    f.scale_rss_kib = 64 * 1024 - 1;
    return f;
}

std::string verdict_of(const std::vector<Row>& table, std::string_view prefix) {
    for (const auto& row : table) {
        if (row.measurement.starts_with(prefix))
            return row.verdict;
    }
    return "(no row)";
}

TEST(Rows, GoalsAtTheirLimitsAreMet) {
    const auto table = rows(meeting_every_goal());
    for (const auto* row :
         {"round trip / raw", "round trip / sd-bus", "confirmation",
          "the same while one connection floods", "timer lateness", "idle", "daemon VmRSS, "})
        EXPECT_EQ(verdict_of(table, row), "met") << row;
}

TEST(Rows, EachGoalJustPastItsLimitIsMissed) {
    struct Case {
        const char* row;
        void (*spoil)(Figures&);
    };
    const Case cases[] = {
        {"round trip / raw", [](Figures& f) { f.raw_ping_pong.p50 = 9.99; }},
        {"round trip / sd-bus", [](Figures& f) { f.sd_bus->p50 = 14.99; }},
        {"confirmation", [](Figures& f) { f.confirmation.p99 = 40.01; }},
        {"the same while one connection floods", [](Figures& f) { f.flooded.p99 = 100.01; }},
        {"timer lateness", [](Figures& f) { f.lateness.p99 = 2000.5; }},
        {"idle", [](Figures& f) { f.idle_context_switches = 1; }},
        {"daemon VmRSS, ", [](Figures& f) { f.scale_rss_kib = 64 * 1024; }},
    };
    for (const auto& c : cases) {
        auto f = meeting_every_goal();
        c.spoil(f);
        const auto table = rows(f);
        EXPECT_EQ(verdict_of(table, c.row), "missed") << c.row;
        std::size_t missed = 0;
        for (const auto& row : table) missed += row.verdict == "missed";
        EXPECT_EQ(missed, 1u) << c.row;
    }
}

TEST(Rows, MemoryGoalNeedsAThousandClients) {
    auto f = meeting_every_goal();
    f.scale_clients = 10;
    EXPECT_EQ(verdict_of(rows(f), "daemon VmRSS, "), "not measured");
}

TEST(Rows, NoRatioWithoutARawFigure) {
    auto f = meeting_every_goal();
    f.raw_ping_pong = {};
    EXPECT_EQ(round_trip_ratio(f), 0);
}

TEST(TextTable, ColumnsAlignAndTheRatioComesLast) {
    const std::vector<Row> table{{"a", "1", "", ""}, {"longer name", "22", "<= 3", "met"}};
    EXPECT_EQ(text_table(table, 1.234),
              "a            1\n"
              "longer name  22  <= 3  met\n"
              "round-trip ratio: 1.23\n");
}

TEST(Report, SectionNamesTheMachineCommandAndDate) {
    RunInfo run;
    run.machine.cpu_model = "Some CPU";
    run.machine.cores = 2;
    run.machine.kernel = "6.1.0";
    run.command = "vtap-bench";
    run.date = "2026-12-09 14:03 UTC";
    run.load = "0.52 0.58 0.59";
    const auto section = generated_section(run, {{"m", "f", "g", "met"}});
    EXPECT_TRUE(section.starts_with(kBeginMarker));
    EXPECT_TRUE(section.ends_with(std::string(kEndMarker) + "\n"));
    for (const auto* part :
         {"Some CPU, 2 logical cores, Linux 6.1.0", "`vtap-bench`", "2026-12-09 14:03 UTC",
          "began: 0.52 0.58 0.59", "| m | f | g | met |"})
        EXPECT_NE(section.find(part), std::string::npos) << part;
}

TEST(Report, SpliceReplacesOnlyTheGeneratedPart) {
    const std::string old_section =
        std::string(kBeginMarker) + "\nold figures\n" + std::string(kEndMarker) + "\n";
    const std::string existing = "# Performance\n\nintro\n" + old_section + "\n## What limits it\n";
    const std::string section =
        std::string(kBeginMarker) + "\nnew figures\n" + std::string(kEndMarker) + "\n";
    const auto spliced = splice_report(existing, section);
    EXPECT_EQ(spliced, "# Performance\n\nintro\n" + section + "\n## What limits it\n");
    // Running again changes nothing more.
    EXPECT_EQ(splice_report(spliced, section), spliced);
}

TEST(Report, PinnedAndUnpinnedSectionsAreSplicedEachInItsOwnPlace) {
    RunInfo run;
    const auto unpinned = generated_section(run, {{"m", "unpinned", "", ""}});
    run.pinned = true;
    const auto pinned = generated_section(run, {{"m", "pinned", "", ""}});
    ASSERT_TRUE(pinned.starts_with(kPinnedBeginMarker));
    const std::string existing = "# P\n\n" + unpinned + "\nbetween\n" + pinned + "\nafter\n";
    run.pinned = false;
    const auto fresh = generated_section(run, {{"m", "fresh", "", ""}});
    EXPECT_EQ(splice_report(existing, fresh),
              "# P\n\n" + fresh + "\nbetween\n" + pinned + "\nafter\n");
}

TEST(Report, ReportWithoutBothMarkersGetsTheSectionFirst) {
    const std::string section =
        std::string(kBeginMarker) + "\nx\n" + std::string(kEndMarker) + "\n";
    EXPECT_EQ(splice_report("", section), "# Performance\n\n" + section);
    const std::string unterminated = std::string(kBeginMarker) + "\nnotes\n";
    EXPECT_EQ(splice_report(unterminated, section),
              "# Performance\n\n" + section + "\n" + unterminated);
}

}  // namespace
}  // namespace norvo::bench
