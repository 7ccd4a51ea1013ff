#pragma once
// One client's connection: reads its frames, runs its calls, carries callbacks
// to it, and runs down the contexts it still holds when it goes.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>

#include "context_table.hpp"
#include "norvo/wire/interface.hpp"
#include "norvo/wire/socket_io.hpp"

namespace norvo::transport {

struct ServerState;
class CallbackWaiter;

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(wire::FileDescriptor socket, ServerState& server);
    ~Connection();

    // Serves calls until the client goes or the connection is hung up, then
    // runs down every context the client still holds.
    void serve();
    // Ends the connection from the service's side: serve() winds up.
    void hang_up();

    // Sends the callback inside the NorvoStartSensor call `call_id` and waits
    // for the client's reply; call_failed once the client is gone.
    wire::RpcStatus callback(std::uint32_t call_id, wire::Callback callback);

    void send_result(std::uint32_t call_id, std::uint8_t opnum,
                     std::span<const std::uint8_t> payload);
    void send_fault(std::uint32_t call_id, std::uint8_t opnum, wire::RpcStatus status);

    ContextTable& contexts() { return contexts_; }
    ServerState& server() { return server_; }

  private:
    void route(const wire::ReceivedFrame& frame);
    void take_callback_reply(std::span<const std::uint8_t> payload);
    bool send(const std::vector<std::uint8_t>& frame);
    // Fails every callback waiting for a reply; later ones fail at once.
    void end_callbacks();

    wire::FileDescriptor socket_;
    ServerState& server_;
    ContextTable contexts_;

    std::mutex write_mutex_;  // one frame at a time on the socket

    std::mutex callbacks_mutex_;
    std::map<std::uint32_t, std::shared_ptr<CallbackWaiter>> waiting_callbacks_;
    std::uint32_t next_sequence_ = 0;
    bool gone_ = false;
};

}  // namespace norvo::transport
