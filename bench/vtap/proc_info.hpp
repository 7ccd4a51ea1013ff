#pragma once
// What the bench reads from /proc: the machine, and a process's memory, threads and
// context switches.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvo::bench {

struct Machine {
    std::string cpu_model;
    unsigned cores = 0;  // logical processors
    std::string kernel;
};

// From the text of /proc/cpuinfo and of /proc/sys/kernel/osrelease.
Machine machine_from(std::string_view cpuinfo, std::string_view osrelease);
Machine read_machine();

// The 1, 5 and 15 minute load averages as /proc/loadavg gives them, e.g. "0.52 0.58 0.59".
std::string load_average_from(std::string_view loadavg);
std::string read_load_average();

// The fields of a /proc/.../status text that the bench uses; absent ones stay 0.
struct TaskStatus {
    std::uint64_t rss_kib = 0;
    std::uint64_t threads = 0;
    std::uint64_t context_switches = 0;  // voluntary plus nonvoluntary
};

TaskStatus parse_status(std::string_view text);

// Threads and VmRSS of the process; none when it cannot be read.
std::optional<TaskStatus> read_process(pid_t pid);
// Context switches summed over every thread of the process, as /proc/PID/task/*/status
// give them; none when they cannot be read.
std::optional<std::uint64_t> context_switches(pid_t pid);

}  // namespace norvo::bench
