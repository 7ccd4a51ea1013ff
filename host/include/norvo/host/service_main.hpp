#pragma once
// Service main and its run loop, over the platform's service control seam.

#include <cstdint>
#include <expected>
#include <memory>

#include "norvo/host/blocking_channel.hpp"
#include "norvo/host/control_event.hpp"
#include "norvo/host/host_error.hpp"
#include "norvo/host/rpc_error.hpp"
#include "norvo/host/service_control.hpp"

namespace norvo::host {

// The platform's seven-field service status record, in its order.
struct ServiceStatus {
    std::uint32_t service_type;
    std::uint32_t current_state;
    std::uint32_t controls_accepted;
    std::uint32_t win32_exit_code = 0;
    std::uint32_t service_exit_code = 0;
    std::uint32_t checkpoint = 0;
    std::uint32_t wait_hint = 0;

    friend bool operator==(const ServiceStatus&, const ServiceStatus&) = default;
};

inline constexpr ServiceStatus kStatusRunning{service_type::own_process, service_state::running,
                                              accept::all};
inline constexpr ServiceStatus kStatusPaused{service_type::own_process, service_state::paused,
                                             accept::stop | accept::pause_continue};
inline constexpr ServiceStatus kStatusStopped{service_type::own_process, service_state::stopped, 0};

class StatusReporter {
  public:
    virtual ~StatusReporter() = default;
    // Fails with "Failed to set service status", caused by the platform error.
    [[nodiscard]] virtual std::expected<void, HostError> set_status(
        const ServiceStatus& status) = 0;
};

// A listening RPC server. Destroying it releases it: stop, result ignored, then free what is left.
class RpcServerHandle {
  public:
    virtual ~RpcServerHandle() = default;
    // Idempotent: a stopped server succeeds at once.
    [[nodiscard]] virtual std::expected<void, RpcError> stop() = 0;
};

struct ServiceObject {
    BlockingReceiver<ControlEvent> events;  // fed by the control handler
    std::unique_ptr<StatusReporter> status;
};

class ServicePlatform {
  public:
    virtual ~ServicePlatform() = default;
    // Registers the control handler (which owns the channel's sending end) and configures recovery.
    [[nodiscard]] virtual std::expected<ServiceObject, HostError> create_service_object() = 0;
    // Builds the process-wide runtime and publishes it in RUNTIME_HANDLE.
    [[nodiscard]] virtual std::expected<void, HostError> start_runtime() = 0;
    [[nodiscard]] virtual std::expected<std::unique_ptr<RpcServerHandle>, RpcError>
    start_rpc_server() = 0;
};

// Serves until a stop request or the closing of the event channel; the RPC server
// is released on every way out.
[[nodiscard]] std::expected<void, HostError> run_loop(ServicePlatform& platform,
                                                      BlockingReceiver<ControlEvent>& events,
                                                      StatusReporter& status);

// The whole service run, from "Application start" to "Application stop". An error is
// logged and the run ends normally; it comes back for a platform whose exit status
// tells the failure (on Windows the stopped status says all and it is ignored).
[[nodiscard]] std::expected<void, HostError> run_service(ServicePlatform& platform);

}  // namespace norvo::host
