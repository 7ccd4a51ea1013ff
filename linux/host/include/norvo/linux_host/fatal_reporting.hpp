#pragma once
// Fatal-error reports on Linux: to syslog under the event-source name, and to
// standard error at error priority.

#include <string_view>

#include "norvo/fatal.hpp"

namespace norvo::linux_host {

// Stores the event-source name (the syslog identifier) and installs the fatal-error
// hook, which uncaught exceptions reach too. Call on the process's main thread: its name tells
// unnamed threads apart.
void install_fatal_reporting(std::string_view event_source);

void report_fatal(const FatalError& error);

}  // namespace norvo::linux_host
