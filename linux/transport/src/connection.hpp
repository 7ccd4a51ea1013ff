#pragma once
// One connection of a client's association. The reactor thread reads its frames and runs the
// calls that never wait right there; the calls that wait run on worker threads.
// Any thread may send, through the SocketWriter; the starts running on it and
// their callbacks are in its RunRegistry. Each of the two has its own lock;
// the connection itself holds none: what is not theirs is the reactor's, or
// constant once the first frame is served.
//
// A client that hangs up has what it sent in full before served, as if it had
// stayed: a phone event or a stop written just before close() takes effect.
// The replies go nowhere.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "association.hpp"
#include "norvo/posix/unique_fd.hpp"
#include "norvo/service/user_quota.hpp"
#include "norvo/wire/interface.hpp"
#include "norvo/wire/socket_io.hpp"
#include "run_registry.hpp"
#include "socket_writer.hpp"

namespace norvo::transport {

struct ServerState;

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    // `socket` is non-blocking; `key` tags its events in `epoll`.
    Connection(posix::UniqueFd socket, std::shared_ptr<Association> association,
               service::UserQuota::Permit permit, ServerState& server, int epoll,
               std::uint64_t key);
    ~Connection();

    // The reactor's side; false means the connection must end (greet: epoll refused it).
    bool greet();
    bool on_readable();
    bool on_writable();
    // When the socket hung up: serves what the client sent before it left.
    // The connection must end after it.
    void on_hang_up();
    bool heard_from() const { return heard_from_; }
    // No frame either way from now on; callbacks waiting for a reply fail.
    // Its runs end with it: stopped here, or by the rundown when `last` of
    // its association (which then waits for them).
    void close(bool last);
    // Runs down every context the client still holds (waits for their runs);
    // for the last connection of its association.
    void run_down();

    // The NorvoStartSensor calls running on this connection.
    RunRegistry& runs() { return runs_; }

    // Sends the callback of `run` inside the NorvoStartSensor call `call_id` and
    // waits for the client's reply; call_failed once the client is gone.
    wire::RpcStatus callback(std::uint32_t call_id, std::uint64_t run, wire::Callback callback);

    void send_result(std::uint32_t call_id, std::uint8_t opnum,
                     std::span<const std::uint8_t> payload);
    void send_fault(std::uint32_t call_id, std::uint8_t opnum, wire::RpcStatus status);

    Association& association() { return *association_; }
    ContextTable& contexts() { return association_->contexts(); }
    ServerState& server() { return server_; }
    uid_t uid() const { return association_->uid(); }
    const service::AccountKey& account() const { return association_->account(); }
    // Whose share of the log the lines of its calls take: none for root and the service's
    // own account, whose lines are the service's.
    std::string_view log_caller() const;

  private:
    // Reads what has come: the count of bytes, 0 at the end, -1 with errno.
    ssize_t receive();
    // Serves the frames held, until a reply waits in the buffer.
    bool serve_frames();
    void route(const wire::ReceivedFrame& frame, bool first);
    // A Join as the connection's first frame moves it to the association it names.
    void join(std::span<const std::uint8_t> payload, bool first);
    void take_callback_reply(std::span<const std::uint8_t> payload);
    bool send_hello(const wire::Hello& hello);

    // Replaced only by a Join, which comes before any call.
    std::shared_ptr<Association> association_;
    ServerState& server_;
    std::optional<service::UserQuota::Permit> permit_;  // the reactor's

    // The reactor's alone.
    wire::FrameAssembler incoming_;
    bool heard_from_ = false;

    SocketWriter writer_;
    RunRegistry runs_;
};

}  // namespace norvo::transport
