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

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "norvo/wire/codec.hpp"
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
    // The sockets and the calls' plumbing: behind this header, so that a change
    // there costs client programs no rebuild.
    class Impl;

    explicit Connection(std::unique_ptr<Impl> impl);

    std::unique_ptr<Impl> impl_;
};

}  // namespace norvo::client
