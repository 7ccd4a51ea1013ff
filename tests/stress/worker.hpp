#pragma once
// One stress client, run as a process of its own: a seeded random sequence of
// calls on one connection, with bad frames, vanishing connections and, for some,
// a SIGKILL of itself while a call is outstanding. Every call it makes must be
// answered within the deadline, with a result the call allows.

#include <chrono>
#include <cstdint>
#include <filesystem>

namespace norvo::stress {

struct WorkerPlan {
    std::filesystem::path socket;
    std::uint64_t seed = 0;
    int steps = 12;
    std::chrono::milliseconds deadline{10000};
};

// Prints one tally line, then a "failure ..." line for each check that did not hold.
// 0 when all held, 1 otherwise; a worker that kills itself does not return.
int run_worker(const WorkerPlan& plan);

}  // namespace norvo::stress
