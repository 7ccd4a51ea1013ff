#pragma once
// `vtapctl monitor`: a context that identifies itself, with debug mode and
// unconfirmed taps on, whose sensor run prints every event with the local time
// until Ctrl-C (or SIGTERM); then it stops the run and closes the context.

#include "connection.hpp"
#include "printer.hpp"
#include "stop_signals.hpp"

namespace norvo::vtapctl {

struct MonitorOptions {
    // Turns the service-wide ignore-unidentified-clients switch on, so that
    // single taps reach the monitor and each confirmed tap shows its offset.
    bool ignore_unidentified = false;
};

// The process's exit status.
int run_monitor(Connection& connection, const MonitorOptions& options, Printer& out);

}  // namespace norvo::vtapctl
