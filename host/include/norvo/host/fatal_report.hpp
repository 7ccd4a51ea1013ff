#pragma once
// The text of a fatal-error report, as the hosts write it to their system log.

#include <string>
#include <string_view>
#include <vector>

#include "norvo/fatal.hpp"

namespace norvo::host {

// "main" on the process's main thread, else the thread's own name, else "<unnamed>".
std::string_view thread_label(bool main_thread, std::string_view own_name);

// "thread 'NAME' panicked at FILE:LINE:COLUMN", then ":\n" and the message when it is fixed text,
// then the uncaught exception on a line of its own.
std::string compose_fatal_report(const FatalError& error, std::string_view thread);

// Lines split at "\n", a "\r" before it dropped; no empty line after a final "\n".
std::vector<std::string_view> report_lines(std::string_view report);

}  // namespace norvo::host
