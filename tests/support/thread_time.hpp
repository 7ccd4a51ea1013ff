#pragma once
// How much a thread of a process runs: a spinning thread shows however loaded the
// machine is, and a fixed amount of work with a child gives it time to show,
// without a sleep.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace norvo::testing {

// The first started thread of `pid` named `name` (threads it starts inherit its name).
std::optional<long> thread_by_name(pid_t pid, const std::string& name);

// Nanoseconds the thread has been on a CPU or waiting for one.
std::uint64_t runnable_ns(pid_t pid, long tid);

// `round_trips` one-byte exchanges with a forked child; false when one failed.
bool exchange_with_a_child(int round_trips);

}  // namespace norvo::testing
