#include "norvo/windows/service_platform.hpp"

#include "norvo/host/control_handler.hpp"
#include "norvo/sensorlib/sensor_library.hpp"
#include "norvo/service/runtime.hpp"
#include "norvo/windows/qpc_clock.hpp"
#include "norvo/windows/recovery.hpp"
#include "norvo/windows/rpc_interface.hpp"
#include "norvo/windows/rpc_server.hpp"
#include "norvo/windows/win32.hpp"

namespace norvo::windows {
namespace {

// The handler context. The registration is never withdrawn, so it lives for the
// process and a late control finds it with its channel end released.
std::unique_ptr<host::ControlHandler> g_handler;

DWORD WINAPI handle_control(DWORD control, DWORD event_type, LPVOID event_data, LPVOID context) {
    return static_cast<host::ControlHandler*>(context)->handle(control, event_type, event_data);
}

class ScmStatus final : public host::StatusReporter {
  public:
    explicit ScmStatus(SERVICE_STATUS_HANDLE handle) : handle_(handle) {}

    [[nodiscard]] std::expected<void, host::HostError> set_status(
        const host::ServiceStatus& s) override {
        SERVICE_STATUS status{s.service_type,    s.current_state,     s.controls_accepted,
                              s.win32_exit_code, s.service_exit_code, s.checkpoint,
                              s.wait_hint};
        if (!SetServiceStatus(handle_, &status)) {
            return std::unexpected(last_error().context("Failed to set service status"));
        }
        return {};
    }

  private:
    SERVICE_STATUS_HANDLE handle_;  // not closed: it lives as long as the registration
};

}  // namespace

std::expected<host::ServiceObject, host::HostError> ScmServicePlatform::create_service_object() {
    auto [sender, receiver] =
        host::blocking_channel<host::ControlEvent>(host::kControlChannelCapacity);
    g_handler = std::make_unique<host::ControlHandler>(std::move(sender));
    const SERVICE_STATUS_HANDLE handle =
        RegisterServiceCtrlHandlerExW(kServiceName, &handle_control, g_handler.get());
    if (!handle) {
        auto error = last_error();
        g_handler.reset();
        return std::unexpected(std::move(error));
    }
    configure_recovery();
    return host::ServiceObject{std::move(receiver), std::make_unique<ScmStatus>(handle)};
}

std::expected<void, host::HostError> ScmServicePlatform::start_runtime() {
    service::RUNTIME_HANDLE.publish(std::make_shared<const service::Runtime>(service::Runtime{
        .clock = std::make_shared<QpcClock>(),
        .com = std::make_shared<sensorlib::MtaApartment>(),
        .sensors = std::make_shared<sensorlib::ComSensorLibrary>(),
    }));
    return {};
}

std::expected<std::unique_ptr<host::RpcServerHandle>, host::RpcError>
ScmServicePlatform::start_rpc_server() {
    auto server = RpcServer::start(tap_interface());
    if (!server)
        return std::unexpected(server.error());
    return std::unique_ptr<host::RpcServerHandle>(std::move(*server));
}

void WINAPI service_main(DWORD, LPWSTR*) {
    ScmServicePlatform platform;
    // run_service has logged a failure; ServiceMain returns nothing to hand it to.
    (void)host::run_service(platform);
}

}  // namespace norvo::windows
