#include "memory.hpp"

#include <fmt/format.h>

#include <charconv>
#include <fstream>
#include <sstream>

namespace norvo::stress {

std::optional<long> parse_rss_kib(std::string_view status) {
    constexpr std::string_view kField = "\nVmRSS:";
    auto at = status.find(kField);
    if (at == std::string_view::npos)
        return std::nullopt;
    auto rest = status.substr(at + kField.size());
    rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
    long kib = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), kib);
    if (error != std::errc{} || !std::string_view(end, rest.data() + rest.size()).starts_with(" kB"))
        return std::nullopt;
    return kib;
}

std::optional<long> rss_kib(pid_t pid) {
    std::ifstream file(fmt::format("/proc/{}/status", pid));
    std::stringstream text;
    text << file.rdbuf();
    return parse_rss_kib("\n" + text.str());
}

std::optional<std::string> judge_rss(std::span<const long> per_round_kib, long bound_kib) {
    if (per_round_kib.size() < 3)
        return fmt::format("{} rounds cannot show flat memory; 3 are needed", per_round_kib.size());
    const long baseline = per_round_kib[1];
    for (std::size_t round = 2; round < per_round_kib.size(); ++round) {
        if (per_round_kib[round] > baseline + bound_kib) {
            return fmt::format("round {} holds {} KiB, more than {} KiB above round 2's {} KiB",
                               round + 1, per_round_kib[round], bound_kib, baseline);
        }
    }
    return std::nullopt;
}

}  // namespace norvo::stress
