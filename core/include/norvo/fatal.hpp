#pragma once
// Unrecoverable internal errors (violated invariants). The host installs a hook
// that reports them (event log, syslog); the process then aborts.

#include <source_location>
#include <string_view>

namespace norvo {

struct FatalError {
    std::source_location where;
    // Empty when the message was composed at run time: reports then carry the location only.
    std::string_view fixed_message;
};

using FatalHook = void (*)(const FatalError&);

void set_fatal_hook(FatalHook hook);

[[noreturn]] void fatal(std::string_view fixed_message,
                        std::source_location where = std::source_location::current());

}  // namespace norvo
