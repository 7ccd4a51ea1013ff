#pragma once
// Unrecoverable internal errors (violated invariants) and uncaught exceptions. The host
// installs a hook that reports them (event log, syslog); the process then aborts.

#include <source_location>
#include <string>
#include <string_view>

namespace norvo {

struct FatalError {
    std::source_location where;
    // Empty when the message was composed at run time: reports then carry the location only.
    std::string_view fixed_message;
    // The uncaught exception that ended the process: its type and what(); empty otherwise.
    std::string_view exception = {};
};

using FatalHook = void (*)(const FatalError&);

void set_fatal_hook(FatalHook hook);

[[noreturn]] void fatal(std::string_view fixed_message,
                        std::source_location where = std::source_location::current());

// Makes std::terminate report through the hook before it aborts, with the exception in
// flight described.
void install_terminate_handler();

// "TYPE: WHAT" for the exception being handled (TYPE demangled; no ": WHAT" unless it is a
// std::exception), empty when none is.
std::string describe_current_exception();

}  // namespace norvo
