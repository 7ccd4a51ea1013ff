#include "norvo/replay/verdict.hpp"

#include <fmt/format.h>

#include <algorithm>

namespace norvo::replay {

std::vector<std::string> diff_lines(std::span<const std::string> expected,
                                    std::span<const std::string> actual) {
    // Longest common subsequence of the suffixes, then one walk from the front.
    const std::size_t n = expected.size();
    const std::size_t m = actual.size();
    std::vector<std::vector<std::size_t>> common(n + 1, std::vector<std::size_t>(m + 1, 0));
    for (std::size_t i = n; i-- > 0;) {
        for (std::size_t j = m; j-- > 0;) {
            common[i][j] = expected[i] == actual[j] ? common[i + 1][j + 1] + 1
                                                    : std::max(common[i + 1][j], common[i][j + 1]);
        }
    }
    std::vector<std::string> out;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && expected[i] == actual[j]) {
            out.push_back("  " + expected[i++]);
            ++j;
        } else if (j == m || (i < n && common[i + 1][j] >= common[i][j + 1])) {
            out.push_back("- " + expected[i++]);
        } else {
            out.push_back("+ " + actual[j++]);
        }
    }
    return out;
}

std::vector<ExpectedLog> missing_logs(std::span<const ExpectedLog> expected,
                                      std::span<const log::CapturedRecord> log) {
    std::vector<ExpectedLog> missing;
    auto from = log.begin();
    for (const ExpectedLog& line : expected) {
        auto found = std::find_if(from, log.end(), [&](const log::CapturedRecord& r) {
            return r.level == line.level && r.message == line.message;
        });
        if (found == log.end()) {
            missing.push_back(line);
        } else {
            from = std::next(found);
        }
    }
    return missing;
}

Verdict judge(const Scenario& scenario, const Outcome& outcome) {
    const bool transcript_ok = scenario.expected_transcript == outcome.transcript;
    const auto missing = missing_logs(scenario.expected_logs, outcome.log);
    if (transcript_ok && missing.empty())
        return {true, {}};

    std::vector<std::string> details;
    if (!transcript_ok) {
        details.emplace_back("transcript (- expected, + actual):");
        for (auto& line : diff_lines(scenario.expected_transcript, outcome.transcript)) {
            details.push_back("  " + line);
        }
    }
    for (const auto& line : missing) {
        details.push_back(
            fmt::format("missing log line: {} {}", level_word(line.level), line.message));
    }
    details.emplace_back("captured log:");
    for (const auto& record : outcome.log) {
        details.push_back(fmt::format("  {} {}", level_word(record.level), record.message));
    }
    return {false, std::move(details)};
}

}  // namespace norvo::replay
