#pragma once
// The Linux stand-in of the service control dispatcher: signals become service
// controls. The signal handlers only write the signal's number into a pipe; the
// dispatcher thread reads it and runs the control handler, as the service control
// manager's dispatcher thread does.

#include <atomic>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "norvo/host/control_handler.hpp"

namespace norvo::linux_host {

// SIGTERM, SIGINT: stop; SIGTSTP: pause; SIGCONT: continue; SIGHUP: parameter
// change; SIGPWR: shutdown. The control code as the service control manager sends it.
std::optional<std::uint32_t> control_for_signal(int signal);

// The controls the last reported status accepts: written on the service main
// thread, read on the dispatcher thread.
using AcceptedControls = std::atomic<std::uint32_t>;

class SignalDispatcher {
  public:
    // Once per process, on the thread that will dispatch and before any other thread
    // exists: the signals are blocked here and inherited blocked, so they are taken
    // only while this thread waits in run(). The handlers stay for the life of the process.
    [[nodiscard]] static std::expected<SignalDispatcher, std::string> install();

    // Hands each signal whose control `accepted` holds to `handler` until `done_fd`
    // becomes readable.
    void run(host::ControlHandler& handler, const AcceptedControls& accepted, int done_fd) const;

  private:
    explicit SignalDispatcher(int read_fd) : read_fd_(read_fd) {}

    int read_fd_;
};

}  // namespace norvo::linux_host
