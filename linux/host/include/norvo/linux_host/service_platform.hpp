#pragma once
// Service main's platform on Linux: the control channel fed by the signal
// dispatcher, systemd notifications for the status, the tap sensor (the simulated
// one's device socket or an IIO device) with the runtime, and the Unix-socket RPC server.

#include <memory>
#include <optional>
#include <string>

#include "norvo/host/service_main.hpp"
#include "norvo/linux_host/options.hpp"
#include "norvo/linux_host/sensor_source.hpp"
#include "norvo/linux_host/signal_dispatcher.hpp"

namespace norvo::linux_host {

class LinuxServicePlatform final : public host::ServicePlatform {
  public:
    // `events` is the receiving end of the channel whose sender the dispatcher's
    // control handler holds; `notify_socket` is NOTIFY_SOCKET when set. Each status
    // reported is recorded in `accepted` for the dispatcher, which outlives the platform.
    LinuxServicePlatform(RunOptions options, host::BlockingReceiver<host::ControlEvent> events,
                         std::optional<std::string> notify_socket, AcceptedControls& accepted);

    [[nodiscard]] std::expected<host::ServiceObject, host::HostError> create_service_object()
        override;
    // Opens the tap sensor's source (the device socket, an IIO device or both), then publishes the
    // clock, the COM apartment and the sensor library in RUNTIME_HANDLE.
    [[nodiscard]] std::expected<void, host::HostError> start_runtime() override;
    [[nodiscard]] std::expected<std::unique_ptr<host::RpcServerHandle>, host::RpcError>
    start_rpc_server() override;

  private:
    RunOptions options_;
    std::optional<host::BlockingReceiver<host::ControlEvent>> events_;
    std::optional<std::string> notify_socket_;
    AcceptedControls& accepted_;
    std::unique_ptr<SensorSource> sensor_;
};

}  // namespace norvo::linux_host
