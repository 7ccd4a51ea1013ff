#pragma once
// The daemon's resident memory after each round, and whether it stayed flat.

#include <sys/types.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace norvo::stress {

// A number field of /proc/PID/status ("VmRSS" in KiB, "Threads"), from its text.
std::optional<long> parse_status_field(std::string_view status, std::string_view name);
std::string read_status(pid_t pid);

// Flat: no round from the third on holds more than `bound_kib` above the second
// (the first round fills pools, caches and the sanitizer's quarantine). None when
// flat; otherwise why not. Fewer than three rounds cannot show it either way.
std::optional<std::string> judge_rss(std::span<const long> per_round_kib, long bound_kib);

}  // namespace norvo::stress
