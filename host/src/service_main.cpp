#include "norvo/host/service_main.hpp"

#include "norvo/host/log_targets.hpp"

namespace norvo::host {
namespace {

HostError to_host_error(const RpcError& error) {
    return HostError(fmt::format("{}", error));
}

// One event of the serving phase: false once the loop should stop the server.
[[nodiscard]] std::expected<bool, HostError> serve(const ControlEvent& event,
                                                   StatusReporter& status) {
    if (const auto* p = std::get_if<PowerEvent>(&event.value)) {
        kHostLog.info("Power event: {}", *p);
    } else if (const auto* s = std::get_if<SessionChangeParam>(&event.value)) {
        kHostLog.info("Session change: {}", *s);
    } else if (const auto* c = std::get_if<PlainControl>(&event.value)) {
        switch (*c) {
            case PlainControl::Continue:
                kHostLog.info("Service continue");
                if (auto set = status.set_status(kStatusRunning); !set)
                    return std::unexpected(set.error());
                break;
            case PlainControl::Pause:
                kHostLog.info("Service pause");
                if (auto set = status.set_status(kStatusPaused); !set)
                    return std::unexpected(set.error());
                break;
            case PlainControl::Stop:
                kHostLog.info("Service stop");
                return false;
            default:
                break;
        }
    }
    return true;
}

[[nodiscard]] std::expected<void, HostError> run(ServicePlatform& platform) {
    auto object = platform.create_service_object();
    if (!object)
        return std::unexpected(
            std::move(object.error()).context("Failed to create service object"));
    if (auto set = object->status->set_status(kStatusRunning); !set)
        return std::unexpected(set.error());
    if (auto runtime = platform.start_runtime(); !runtime) {
        return std::unexpected(std::move(runtime.error()).context("Failed to build async runtime"));
    }
    std::expected<void, HostError> outcome = run_loop(platform, object->events, *object->status);
    if (!outcome)
        outcome = std::unexpected(std::move(outcome.error()).context("Failed to run service"));
    if (auto set = object->status->set_status(kStatusStopped); !set)
        return std::unexpected(set.error());
    return outcome;
}

}  // namespace

std::expected<void, HostError> run_loop(ServicePlatform& platform,
                                        BlockingReceiver<ControlEvent>& events,
                                        StatusReporter& status) {
    auto server = platform.start_rpc_server();
    if (!server)
        return std::unexpected(to_host_error(server.error()));
    kHostLog.info("RpcServer created");
    while (auto event = events.recv()) {
        auto serving = serve(*event, status);
        if (!serving)
            return std::unexpected(serving.error());  // releasing the server stops it
        if (!*serving)
            break;
    }
    if (auto stopped = (*server)->stop(); !stopped)
        return std::unexpected(to_host_error(stopped.error()));
    kHostLog.info("RpcServer stopped");
    return {};
}

std::expected<void, HostError> run_service(ServicePlatform& platform) {
    kHostLog.info("Application start");
    auto result = run(platform);
    if (!result)
        kHostLog.error("Application exited with an error: {}", result.error());
    kHostLog.info("Application stop");
    return result;
}

}  // namespace norvo::host
