#pragma once
// Runs one scenario in virtual time through the real procedures and sensor loop.

#include "norvo/log_capture.hpp"
#include "norvo/replay/scenario.hpp"

#include <string>
#include <vector>

namespace norvo::replay {

struct Outcome {
    std::vector<std::string> transcript;   // one line per callback, in order
    std::vector<log::CapturedRecord> log;  // every log line of the run
};

// Publishes RUNTIME_HANDLE and uses the process-wide values, so it runs once per
// process: the tool gives every scenario a child process of its own.
Outcome run_scenario(const Scenario& scenario);

}  // namespace norvo::replay
