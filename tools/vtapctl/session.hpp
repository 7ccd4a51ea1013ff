#pragma once
// `vtapctl session`: one client session driven by commands, one per line, with
// one output line per result and per callback. The session has one context
// handle (null until `open` and after `close`) and at most one outstanding start.

#include <atomic>
#include <istream>
#include <memory>
#include <string_view>
#include <thread>

#include "connection.hpp"
#include "printer.hpp"

namespace norvo::vtapctl {

// Prints each callback as its one-line text form.
std::unique_ptr<Callbacks> printing_callbacks(Printer& out);

class Session {
  public:
    Session(Connection& connection, Printer& out) : connection_(connection), out_(out) {}
    // Waits for an outstanding start.
    ~Session();

    // Runs every line of `input`. At its end, an outstanding start is left to
    // the service: the connection ends and the service runs the context down.
    // Returns false when a line could not be run (each is reported on stderr).
    bool run(std::istream& input);

  private:
    // False, with the reason on stderr, for a line that is not a command.
    bool execute(std::string_view line);
    bool start(std::string_view cookie);
    void close();
    void wait_for_start();

    Connection& connection_;
    Printer& out_;
    ContextHandle context_;
    std::unique_ptr<Callbacks> callbacks_;
    std::atomic<bool> start_outstanding_ = false;
    std::thread start_;
};

}  // namespace norvo::vtapctl
