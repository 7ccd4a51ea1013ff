#include "remote_callbacks.hpp"

#include "connection.hpp"
#include "norvo/service/procedures.hpp"

namespace norvo::transport {

// A start makes its first callback only once it holds the context's processing
// gate and its stop channel exists, or on its way out: from then on a close can
// stop it and waits for it through the gate, so the lease can go.
service::CallbackResult RemoteCallbacks::call(wire::Callback callback) {
    start_lease_.release();
    const auto status = connection_.callback(call_id_, run_, std::move(callback));
    if (status != wire::status::ok) {
        // Its connection ended before the run reached its loop, too early for a stop.
        if (connection_.runs().must_stop_itself(run_))
            (void)service::NorvoStopSensor(context_);
        return std::unexpected(
            service::CallbackFailure{std::string(wire::describe_status(status))});
    }
    return {};
}

service::CallbackResult RemoteCallbacks::tap_event(std::int32_t kind, std::uint64_t timestamp,
                                                   std::uint64_t cookie) {
    return call(wire::callback::TapEvent{kind, timestamp, cookie});
}

service::CallbackResult RemoteCallbacks::send_client_event(std::span<const std::uint8_t> packet,
                                                           std::uint64_t cookie) {
    return call(wire::callback::SendClientEvent{{{packet.begin(), packet.end()}}, cookie});
}

service::CallbackResult RemoteCallbacks::sensor_state_changed(std::uint64_t timestamp,
                                                              std::uint16_t state,
                                                              std::uint64_t cookie) {
    return call(wire::callback::SensorStateChanged{timestamp, state, cookie});
}

service::CallbackResult RemoteCallbacks::signal_return(std::int32_t status, std::uint64_t cookie) {
    return call(wire::callback::SignalReturn{status, cookie});
}

}  // namespace norvo::transport
