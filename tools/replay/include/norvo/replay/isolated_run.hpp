#pragma once
// Runs a scenario in a forked child process, so that it starts with fresh
// process-wide values (RUNTIME_HANDLE, the shared cells), and reads its verdict
// back through a pipe. A child that crashes or hangs is a failed scenario.

#include "norvo/replay/scenario.hpp"
#include "norvo/replay/verdict.hpp"

namespace norvo::replay {

// A child still running after this long is killed: the scenario hung.
inline constexpr unsigned kScenarioTimeoutSeconds = 60;

// Call only while the process has a single thread.
Verdict run_isolated(const Scenario& scenario);

}  // namespace norvo::replay
