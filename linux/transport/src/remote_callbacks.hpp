#pragma once
// The callbacks of one outstanding NorvoStartSensor call, carried to the client
// over its connection. Each waits for the client's reply.

#include <cstdint>

#include "context_table.hpp"
#include "norvo/service/client_callbacks.hpp"
#include "norvo/wire/interface.hpp"

namespace norvo::transport {

class Connection;

class RemoteCallbacks final : public service::ClientCallbacks {
  public:
    // `start_lease` is released at the first callback (see call()).
    RemoteCallbacks(Connection& connection, std::uint32_t call_id, std::uint64_t run,
                    ContextLease& start_lease)
        : connection_(connection),
          call_id_(call_id),
          run_(run),
          start_lease_(start_lease),
          context_(start_lease.context()) {}

    service::CallbackResult tap_event(std::int32_t kind, std::uint64_t timestamp,
                                      std::uint64_t cookie) override;
    service::CallbackResult send_client_event(std::span<const std::uint8_t> packet,
                                              std::uint64_t cookie) override;
    service::CallbackResult sensor_state_changed(std::uint64_t timestamp, std::uint16_t state,
                                                 std::uint64_t cookie) override;
    service::CallbackResult signal_return(std::int32_t status, std::uint64_t cookie) override;

  private:
    service::CallbackResult call(wire::Callback callback);

    Connection& connection_;
    const std::uint32_t call_id_;
    const std::uint64_t run_;  // its key in the connection's runs
    ContextLease& start_lease_;
    // Alive while the run makes callbacks: a close waits for the run to end.
    service::ClientContext& context_;
};

}  // namespace norvo::transport
