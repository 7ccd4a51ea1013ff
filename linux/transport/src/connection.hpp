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
#include <string_view>
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
    // Its runs end with it: stopped here, or by the rundown when `last` of
    // its association (which then waits for them).
    void close(bool last);
    // Runs down every context the client still holds (waits for their runs);
    // for the last connection of its association.
    void run_down();

    // The NorvoStartSensor calls running on this connection, which end with it
    // as if their client had gone. The reactor registers one before it runs.
    std::uint64_t begin_run(const wire::ContextToken& context);
    // From the start's own thread once NorvoStartSensor has returned.
    void end_run(std::uint64_t run);
    // After a callback of `call_id` failed: true, once, when the run must stop
    // itself because the connection ended before the run reached its loop.
    bool must_stop_itself(std::uint64_t run);

    // Any thread: ends the connection; the reactor then closes it.
    void hang_up();

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
    // Returns the contexts of the runs in their loop when they are to be
    // stopped here; a run still starting stops itself at its first callback.
    std::vector<wire::ContextToken> end_callbacks(bool stop_runs);

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

    // A run's first callback shows that its stop channel exists.
    enum class RunState { Starting, Looping, Stopped };
    struct Run {
        wire::ContextToken context;
        RunState state = RunState::Starting;
    };

    std::mutex callbacks_mutex_;
    std::map<std::uint32_t, std::shared_ptr<CallbackWaiter>> waiting_callbacks_;
    std::map<std::uint64_t, Run> runs_;  // call ids are the client's: they may repeat
    std::uint64_t next_run_ = 0;
    std::uint32_t next_sequence_ = 0;
    bool gone_ = false;
};

}  // namespace norvo::transport
