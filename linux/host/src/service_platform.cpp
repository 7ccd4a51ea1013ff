#include "norvo/linux_host/service_platform.hpp"

#include <cstdlib>

#include "norvo/host/log_targets.hpp"
#include "norvo/linux/steady_clock.hpp"
#include "norvo/linux_host/iio_source.hpp"
#include "norvo/linux_host/notify_status.hpp"
#include "norvo/rpc/rpc_server.hpp"
#include "norvo/sensorlib/sensor_library.hpp"
#include "norvo/service/runtime.hpp"

namespace norvo::linux_host {
namespace {

// The transport's error in the host's terms: the two types have the same forms.
class TransportServer final : public host::RpcServerHandle {
  public:
    explicit TransportServer(rpc::RpcServer server) : server_(std::move(server)) {}

    [[nodiscard]] std::expected<void, host::RpcError> stop() override {
        if (auto stopped = server_.stop(); !stopped)
            return std::unexpected(stopped.error());
        return {};
    }

  private:
    rpc::RpcServer server_;  // its release ends the open connections and joins their calls
};

// Records the controls of each status reported, as the service control manager
// learns them.
class AcceptingStatus final : public host::StatusReporter {
  public:
    AcceptingStatus(std::optional<std::string> socket, AcceptedControls& accepted)
        : notify_(std::move(socket)), accepted_(accepted) {}

    [[nodiscard]] std::expected<void, host::HostError> set_status(
        const host::ServiceStatus& status) override {
        auto set = notify_.set_status(status);
        if (set)
            accepted_.store(status.controls_accepted);
        return set;
    }

  private:
    NotifyStatusReporter notify_;
    AcceptedControls& accepted_;
};

}  // namespace

LinuxServicePlatform::LinuxServicePlatform(RunOptions options,
                                           host::BlockingReceiver<host::ControlEvent> events,
                                           std::optional<std::string> notify_socket,
                                           AcceptedControls& accepted)
    : options_(std::move(options)), notify_socket_(std::move(notify_socket)), accepted_(accepted) {
    events_.emplace(std::move(events));
}

std::expected<host::ServiceObject, host::HostError> LinuxServicePlatform::create_service_object() {
    if (!events_)
        return std::unexpected(host::HostError("the service object exists already"));
    host::ServiceObject object{std::move(*events_),
                               std::make_unique<AcceptingStatus>(notify_socket_, accepted_)};
    events_.reset();
    // Recovery is the systemd unit's restart policy: nothing to write at start.
    return object;
}

std::expected<void, host::HostError> LinuxServicePlatform::start_runtime() {
    auto sensor =
        SensorSource::open(options_, options_.sensor == SensorKind::simulated
                                         ? linux_platform::IioSource{}
                                         : iio_source(options_, std::getenv(kIioEventsVariable)));
    if (!sensor)
        return std::unexpected(host::HostError(sensor.error()));
    sensor_ = std::move(*sensor);
    service::RUNTIME_HANDLE.publish(std::make_shared<const service::Runtime>(service::Runtime{
        .clock = std::make_shared<linux_platform::SteadyClock>(),
        .com = std::make_shared<sensorlib::MtaApartment>(),
        .sensors = std::make_shared<sensorlib::ComSensorLibrary>(),
    }));
    return {};
}

std::expected<std::unique_ptr<host::RpcServerHandle>, host::RpcError>
LinuxServicePlatform::start_rpc_server() {
    auto server =
        rpc::RpcServer::start(options_.socket, transport::AccessPolicy::for_this_system(),
                              transport::Limits{.thread_idle_time = options_.thread_idle});
    if (!server) {
        // As for the device socket: the run's error cannot say which path failed.
        host::kHostLog.error("RPC endpoint {} not created: {}", options_.socket.native(),
                             server.error());
        return std::unexpected(server.error());
    }
    return std::make_unique<TransportServer>(std::move(*server));
}

}  // namespace norvo::linux_host
