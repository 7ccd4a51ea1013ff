#include "memory.hpp"

#include <fmt/format.h>

#include <charconv>
#include <fstream>
#include <sstream>

namespace norvo::stress {

std::optional<long> parse_status_field(std::string_view status, std::string_view name) {
    for (std::size_t at = 0; at < status.size();) {
        auto end = status.find('\n', at);
        if (end == std::string_view::npos)
            end = status.size();
        auto line = status.substr(at, end - at);
        at = end + 1;
        if (!line.starts_with(name) || line.substr(name.size()).substr(0, 1) != ":")
            continue;
        line.remove_prefix(name.size() + 1);
        line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
        long value = 0;
        const auto [rest, error] = std::from_chars(line.data(), line.data() + line.size(), value);
        if (error != std::errc{})
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::string read_status(pid_t pid) {
    std::ifstream file(fmt::format("/proc/{}/status", pid));
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
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
