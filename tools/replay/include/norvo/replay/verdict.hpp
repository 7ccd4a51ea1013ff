#pragma once
// Compares what a run produced with what its scenario expects.

#include "norvo/replay/driver.hpp"
#include "norvo/replay/scenario.hpp"

#include <span>
#include <string>
#include <vector>

namespace norvo::replay {

struct Verdict {
    bool passed;
    std::vector<std::string> details;  // empty when passed
};

Verdict judge(const Scenario& scenario, const Outcome& outcome);

// Line diff: "  line" in both, "- line" expected only, "+ line" actual only.
std::vector<std::string> diff_lines(std::span<const std::string> expected,
                                    std::span<const std::string> actual);

// The expected log lines not found in order: each is looked for after the last one found.
std::vector<ExpectedLog> missing_logs(std::span<const ExpectedLog> expected,
                                      std::span<const log::CapturedRecord> log);

}  // namespace norvo::replay
