#pragma once
// The Linux stand-in of the service status: systemd's notification protocol on
// the datagram socket named by NOTIFY_SOCKET, written by hand.

#include <optional>
#include <string>

#include "norvo/host/service_main.hpp"

namespace norvo::linux_host {

// The notification for a status: READY=1 with the first running status,
// STATUS=Running or STATUS=Paused, STOPPING=1 for stopped.
std::string notify_message(const host::ServiceStatus& status, bool first_running);

class NotifyStatusReporter final : public host::StatusReporter {
  public:
    // `socket` is NOTIFY_SOCKET: a path, or "@name" in the abstract namespace.
    // Without one every status is accepted and goes nowhere.
    explicit NotifyStatusReporter(std::optional<std::string> socket) : socket_(std::move(socket)) {}

    [[nodiscard]] std::expected<void, host::HostError> set_status(
        const host::ServiceStatus& status) override;

  private:
    std::optional<std::string> socket_;
    bool ready_sent_ = false;
};

}  // namespace norvo::linux_host
