// vtap-replay FILE...: replays each scenario file in virtual time through the
// service's procedures and sensor loop, and prints PASS or FAIL with its name.

#include "norvo/replay/isolated_run.hpp"
#include "norvo/replay/scenario.hpp"

#include <fmt/format.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace {

using norvo::replay::Verdict;

std::optional<std::string> read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return std::move(text).str();
}

Verdict replay(const std::filesystem::path& path) {
    auto text = read_text(path);
    if (!text)
        return {false, {fmt::format("{}: cannot read the file", path.string())}};
    auto scenario = norvo::replay::parse_scenario(*text);
    if (!scenario) {
        return {false,
                {fmt::format("{}:{}: {}", path.string(), scenario.error().line,
                             scenario.error().reason)}};
    }
    return norvo::replay::run_isolated(*scenario);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fmt::print(stderr, "usage: vtap-replay FILE...\n");
        return 2;
    }
    bool all_passed = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        const Verdict verdict = replay(path);
        fmt::print("{} {}\n", verdict.passed ? "PASS" : "FAIL", path.stem().string());
        for (const auto& line : verdict.details) fmt::print("  {}\n", line);
        std::fflush(stdout);
        all_passed = all_passed && verdict.passed;
    }
    return all_passed ? 0 : 1;
}
