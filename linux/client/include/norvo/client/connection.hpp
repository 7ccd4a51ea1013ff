#pragma once
// The client library for companion applications on Linux: the seven
// procedures of the interface over the service's local socket, and the four
// callbacks, delivered inside an outstanding NorvoStartSensor call.
//
// Calls may be made from any number of threads at once, several on one
// context. Each call has a socket to itself, opened when no idle one is left
// and joined to the service's record of this client, so its answer and its
// callbacks come straight to the calling thread. The sockets for calls other
// than starts are capped; a caller beyond the cap waits for an idle one. A
// procedure's own result (an HRESULT) comes back as the value; a call the
// transport could not carry out comes back as an RpcFailure.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "norvo/wire/codec.hpp"
#include "norvo/wire/socket_io.hpp"
#include "norvo/wire/status.hpp"

namespace norvo::client {

using HRESULT = std::int32_t;
using PropertyKey = std::int32_t;

// Valid only on the connection that opened it; null after RemoteClose.
using ContextHandle = wire::ContextToken;

struct RpcFailure {
    wire::RpcStatus status;
    std::string_view describe() const { return wire::describe_status(status); }
};

template <class T>
using Result = std::expected<T, RpcFailure>;

// What the application does with each callback. They run on the thread that
// called NorvoStartSensor, one at a time; the service's sensor loop waits until
// each has returned, so a slow callback delays only this client's run.
class Callbacks {
  public:
    virtual ~Callbacks() = default;
    virtual void tap_event(std::int32_t kind, std::uint64_t timestamp, std::uint64_t cookie) = 0;
    virtual void send_client_event(std::span<const std::uint8_t> packet, std::uint64_t cookie) = 0;
    virtual void sensor_state_changed(std::uint64_t timestamp, std::uint16_t state,
                                      std::uint64_t cookie) = 0;
    virtual void signal_return(std::int32_t status, std::uint64_t cookie) = 0;
};

struct QueryResult {
    HRESULT value;
    std::int32_t size;  // the property's length, when value is 0 or the buffer was too small
    std::optional<std::vector<std::uint8_t>> buffer;  // the buffer as the service returned it
};

struct PropertyValue {
    HRESULT value;
    std::vector<std::uint8_t> bytes;  // empty unless value is 0
};

struct Options {
    // Sockets for calls other than NorvoStartSensor, far inside the user's
    // share of the service's connections; each start has one more of its own.
    // At least one.
    std::size_t max_sockets = 8;
    // Connecting and the service's Hello, for every socket.
    std::chrono::milliseconds connect_deadline{5'000};
    // Every call but NorvoStartSensor, waiting for a socket included; past it
    // the call fails with call_cancelled and its socket is closed. A start's
    // writes (the call, each callback's answer) must each go within it too.
    std::chrono::milliseconds call_deadline{30'000};
    // Idle sockets beyond one are closed once idle this long, when a call ends.
    std::chrono::milliseconds idle_time{2'000};
};

class Connection {
  public:
    // Connects and waits for the service to admit this process:
    // server_unavailable when nothing listens there or the service does not
    // answer by the connect deadline, access_denied when refused.
    [[nodiscard]] static Result<std::unique_ptr<Connection>> connect(
        const std::filesystem::path& socket_path, Options options = {});

    // Ends the connection; the service runs down the contexts still open.
    // No call may be in progress.
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Ends the connection now: calls in progress and later calls fail with call_failed.
    void disconnect();

    [[nodiscard]] Result<ContextHandle> RemoteOpen();
    // Nulls `context` once closed. Waits until a sensor run on it has ended.
    [[nodiscard]] Result<void> RemoteClose(ContextHandle& context);
    // Blocks for the whole sensor run, running `callbacks` on this thread.
    [[nodiscard]] Result<HRESULT> NorvoStartSensor(const ContextHandle& context,
                                                   std::uint64_t cookie, Callbacks& callbacks);
    [[nodiscard]] Result<HRESULT> NorvoStopSensor(const ContextHandle& context);
    [[nodiscard]] Result<HRESULT> NorvoReceiveClientEvent(const ContextHandle& context,
                                                          std::span<const std::uint8_t> packet);
    [[nodiscard]] Result<HRESULT> NorvoSetProperty(const ContextHandle& context, PropertyKey key,
                                                   std::span<const std::uint8_t> value);
    // `buffer` is the room offered (its size) and its contents; `input` is not read by the service.
    [[nodiscard]] Result<QueryResult> NorvoQueryProperty(
        const ContextHandle& context, PropertyKey key,
        std::optional<std::vector<std::uint8_t>> buffer,
        std::optional<std::vector<std::uint8_t>> input = {});

    // Reads a property in the usual two calls: its length, then its value.
    [[nodiscard]] Result<PropertyValue> read_property(const ContextHandle& context,
                                                      PropertyKey key);

    // Sockets held now, busy and idle.
    [[nodiscard]] std::size_t socket_count();

  private:
    class CallSocket;
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;

    Connection(std::filesystem::path endpoint, Options options, std::unique_ptr<CallSocket> first);

    // An idle socket, a new one while under the cap, or the first to come
    // back by the deadline. A start's socket is outside the cap.
    Result<CallSocket*> take_socket(bool start, Deadline deadline);
    // Opens a socket the caller has already counted against the cap (but for
    // a start); when none can be opened, the count is given back.
    Result<CallSocket*> add_socket(bool start, Deadline deadline);
    // A socket of the association; a fresh association once the service has
    // forgotten this one (it restarted, or every socket of it had ended).
    Result<std::unique_ptr<CallSocket>> open_socket(Deadline deadline);
    // A start holds its socket for the whole run: the calls that stop or close
    // it must find another, even once the service takes no new connections.
    void keep_a_socket_idle();
    // A socket whose call did not end cleanly may still hold that call's frames: it goes.
    void give_back(CallSocket& socket, bool clean);
    // Closes idle sockets beyond one that have been idle for the idle time.
    void trim_idle(std::chrono::steady_clock::time_point now);
    // The idle socket used last, if any; with mutex_ held.
    CallSocket* latest_idle() const;
    template <class Reply, class Request>
    Result<Reply> invoke(const Request& request, Callbacks* callbacks = nullptr);
    Result<wire::ReceivedFrame> call(std::uint8_t opnum, std::span<const std::uint8_t> payload,
                                     Callbacks* callbacks);
    // The call's Result or Fault frame, or why there is none.
    Result<wire::ReceivedFrame> converse(CallSocket& socket, std::uint8_t opnum,
                                         std::span<const std::uint8_t> payload,
                                         Callbacks* callbacks, Deadline deadline);
    // Runs the callback, then answers it by the write deadline.
    Result<void> answer_callback(CallSocket& socket, std::uint32_t call_id,
                                 const wire::ReceivedFrame& frame, Callbacks& callbacks,
                                 Deadline deadline);
    // A write's: the call's deadline, or for a start the call deadline from now.
    std::chrono::steady_clock::time_point write_deadline(Deadline call) const;

    const std::filesystem::path endpoint_;
    const Options options_;
    std::atomic<std::uint32_t> next_call_id_{0};

    // Guarded by mutex_. Callers wait on returned_ for a socket, and on
    // renewed_ while another caller makes a fresh association.
    std::mutex mutex_;
    std::condition_variable returned_;
    std::condition_variable renewed_;
    wire::AssociationKey association_;
    bool renewing_ = false;
    std::vector<std::unique_ptr<CallSocket>> sockets_;  // busy and idle
    std::size_t capped_ = 0;  // sockets held or being opened, but for running starts
    bool gone_ = false;
};

}  // namespace norvo::client
