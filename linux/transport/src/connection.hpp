#pragma once
// One connection of a client's association. The reactor thread reads its frames and runs the
// calls that never wait right there; the calls that wait run on worker threads.
// Any thread may send: a frame goes straight to the socket, or waits in a
// bounded buffer that the reactor flushes while it reads nothing more from the
// client. A client that lets the buffer pass its bound is hung up on.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "association.hpp"
#include "norvo/posix/unique_fd.hpp"
#include "norvo/service/user_quota.hpp"
#include "norvo/wire/interface.hpp"
#include "norvo/wire/socket_io.hpp"

namespace norvo::transport {

struct ServerState;
class CallbackWaiter;

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    // `socket` is non-blocking; `key` tags its events in `epoll`.
    Connection(posix::UniqueFd socket, std::shared_ptr<Association> association,
               service::UserQuota::Permit permit, ServerState& server, int epoll,
               std::uint64_t key);
    ~Connection();

    // The reactor's side; false means the connection must end.
    bool greet();
    bool on_readable();
    bool on_writable();
    bool heard_from() const { return heard_from_; }
    // No frame either way from now on; callbacks waiting for a reply fail.
    void close();
    // Runs down every context the client still holds (waits for their runs);
    // for the last connection of its association.
    void run_down();

    // Any thread: ends the connection; the reactor then closes it.
    void hang_up();

    // Sends the callback inside the NorvoStartSensor call `call_id` and waits
    // for the client's reply; call_failed once the client is gone.
    wire::RpcStatus callback(std::uint32_t call_id, wire::Callback callback);

    void send_result(std::uint32_t call_id, std::uint8_t opnum,
                     std::span<const std::uint8_t> payload);
    void send_fault(std::uint32_t call_id, std::uint8_t opnum, wire::RpcStatus status);

    Association& association() { return *association_; }
    ContextTable& contexts() { return association_->contexts(); }
    ServerState& server() { return server_; }
    uid_t uid() const { return association_->uid(); }
    const service::AccountKey& account() const { return association_->account(); }

  private:
    // Serves the frames held, until a reply waits in the buffer.
    bool serve_frames();
    void route(const wire::ReceivedFrame& frame, bool first);
    // A Join as the connection's first frame moves it to the association it names.
    void join(std::span<const std::uint8_t> payload, bool first);
    void take_callback_reply(std::span<const std::uint8_t> payload);
    bool send(std::span<const std::uint8_t> frame);
    bool send_hello(const wire::Hello& hello);
    bool replies_waiting();
    // Under write_mutex_: writes what the socket takes now; false when it failed.
    bool write_now(std::span<const std::uint8_t>& bytes);
    void hang_up_locked();
    // Under write_mutex_: read while nothing waits to be written, else wait to write.
    void watch_locked();
    // Fails every callback waiting for a reply; later ones fail at once.
    void end_callbacks();

    // Replaced only by a Join, which comes before any call.
    std::shared_ptr<Association> association_;
    ServerState& server_;
    const int epoll_;
    const std::uint64_t key_;
    std::optional<service::UserQuota::Permit> permit_;

    // The reactor's alone.
    wire::FrameAssembler incoming_;
    bool heard_from_ = false;

    std::mutex write_mutex_;  // the socket's writes, its closing and the buffer
    posix::UniqueFd socket_;
    std::vector<std::uint8_t> outgoing_;
    std::size_t outgoing_begin_ = 0;
    std::uint32_t watched_ = 0;
    bool hung_up_ = false;

    std::mutex callbacks_mutex_;
    std::map<std::uint32_t, std::shared_ptr<CallbackWaiter>> waiting_callbacks_;
    std::uint32_t next_sequence_ = 0;
    bool gone_ = false;
};

}  // namespace norvo::transport
