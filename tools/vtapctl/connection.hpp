#pragma once
// The service as vtapctl sees it, whichever connection carries the calls: the Unix-socket
// client library on Linux, the RPC runtime's client stubs on Windows.
//
// Calls may be made from several threads at once, several on one context. A procedure's own
// result (an HRESULT) comes back as the value; a call the connection could not carry out
// comes back as a CallFailure.

#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace norvo::vtapctl {

using HRESULT = std::int32_t;
using PropertyKey = std::int32_t;

// The RPC status, numbered as the Windows RPC runtime numbers them, and its description.
struct CallFailure {
    std::int32_t status;
    std::string description;
};

template <class T>
using Result = std::expected<T, CallFailure>;

// Valid only on the connection that opened it; all zero when null.
struct ContextHandle {
    std::array<std::uint8_t, 16> bytes{};
    bool is_null() const { return bytes == std::array<std::uint8_t, 16>{}; }
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

// What vtapctl does with each callback. They run on the thread that called NorvoStartSensor,
// one at a time.
class Callbacks {
  public:
    virtual ~Callbacks() = default;
    virtual void tap_event(std::int32_t kind, std::uint64_t timestamp, std::uint64_t cookie) = 0;
    virtual void send_client_event(std::span<const std::uint8_t> packet, std::uint64_t cookie) = 0;
    virtual void sensor_state_changed(std::uint64_t timestamp, std::uint16_t state,
                                      std::uint64_t cookie) = 0;
    virtual void signal_return(std::int32_t status, std::uint64_t cookie) = 0;
};

class Connection {
  public:
    virtual ~Connection() = default;

    // Ends an outstanding start: it and later calls fail.
    virtual void disconnect() = 0;

    [[nodiscard]] virtual Result<ContextHandle> RemoteOpen() = 0;
    // Nulls `context` once closed.
    [[nodiscard]] virtual Result<void> RemoteClose(ContextHandle& context) = 0;
    // Blocks for the whole sensor run, running `callbacks` on this thread.
    [[nodiscard]] virtual Result<HRESULT> NorvoStartSensor(const ContextHandle& context,
                                                           std::uint64_t cookie,
                                                           Callbacks& callbacks) = 0;
    [[nodiscard]] virtual Result<HRESULT> NorvoStopSensor(const ContextHandle& context) = 0;
    [[nodiscard]] virtual Result<HRESULT> NorvoReceiveClientEvent(
        const ContextHandle& context, std::span<const std::uint8_t> packet) = 0;
    [[nodiscard]] virtual Result<HRESULT> NorvoSetProperty(const ContextHandle& context,
                                                           PropertyKey key,
                                                           std::span<const std::uint8_t> value) = 0;
    // `room`: the size of the buffer offered, none for a null buffer.
    [[nodiscard]] virtual Result<QueryResult> NorvoQueryProperty(
        const ContextHandle& context, PropertyKey key, std::optional<std::uint16_t> room) = 0;
};

// A connection's own result, with its failure described by `describe`.
template <class T, class E, class Describe>
[[nodiscard]] Result<T> described(std::expected<T, E> result, Describe describe) {
    if (!result)
        return std::unexpected(describe(result.error()));
    if constexpr (std::is_void_v<T>) {
        return {};
    } else {
        return std::move(*result);
    }
}

// Reads a property in the usual two calls: its length, then its value.
[[nodiscard]] Result<PropertyValue> read_property(Connection& connection,
                                                  const ContextHandle& context, PropertyKey key);

// Connects to the service's endpoint (the platform's default one when none is given), or says
// on stderr why it could not.
std::unique_ptr<Connection> connect(const std::optional<std::string>& endpoint);

}  // namespace norvo::vtapctl
