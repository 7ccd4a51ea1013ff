#pragma once
// The interface on the wire: the seven procedures and four callbacks with their
// parameters in the order of the interface tables. A Call frame carries a
// procedure's [in] parameters; a Result frame its [out] parameters followed by
// its return value. Each variant lists its alternatives in opnum order.

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

#include "norvo/wire/codec.hpp"
#include "norvo/wire/frame.hpp"
#include "norvo/wire/status.hpp"

namespace norvo::wire {

namespace call {
// The binding handle of RemoteOpen is the connection itself.
struct RemoteOpen {
    static auto fields(auto&) { return std::tie(); }
};
struct RemoteClose {
    ContextToken context{};
    static auto fields(auto& s) { return std::tie(s.context); }
};
struct NorvoStartSensor {
    ContextToken context{};
    std::uint64_t cookie = 0;
    static auto fields(auto& s) { return std::tie(s.context, s.cookie); }
};
struct NorvoStopSensor {
    ContextToken context{};
    static auto fields(auto& s) { return std::tie(s.context); }
};
struct NorvoReceiveClientEvent {
    ContextToken context{};
    CountedBytes packet{};
    static auto fields(auto& s) { return std::tie(s.context, s.packet); }
};
struct NorvoSetProperty {
    ContextToken context{};
    std::int32_t key = 0;
    PropertyBuffer value{};
    static auto fields(auto& s) { return std::tie(s.context, s.key, s.value); }
};
struct NorvoQueryProperty {
    ContextToken context{};
    std::int32_t key = 0;
    std::optional<PropertyBuffer> buffer{};
    std::optional<PropertyBuffer> input{};
    static auto fields(auto& s) { return std::tie(s.context, s.key, s.buffer, s.input); }
};
}  // namespace call

using Call =
    std::variant<call::RemoteOpen, call::RemoteClose, call::NorvoStartSensor, call::NorvoStopSensor,
                 call::NorvoReceiveClientEvent, call::NorvoSetProperty, call::NorvoQueryProperty>;

namespace result {
struct RemoteOpen {
    ContextToken context{};
    static auto fields(auto& s) { return std::tie(s.context); }
};
// The [in, out] handle comes back null.
struct RemoteClose {
    ContextToken context{};
    static auto fields(auto& s) { return std::tie(s.context); }
};
// The result of procedures 2 to 5.
struct Status {
    std::int32_t value = 0;
    static auto fields(auto& s) { return std::tie(s.value); }
};
struct NorvoQueryProperty {
    std::int32_t size = 0;
    std::optional<PropertyBuffer> buffer{};
    std::int32_t value = 0;
    static auto fields(auto& s) { return std::tie(s.size, s.buffer, s.value); }
};
}  // namespace result

namespace callback {
struct TapEvent {
    std::int32_t kind = 0;
    std::uint64_t timestamp = 0;
    std::uint64_t cookie = 0;
    static auto fields(auto& s) { return std::tie(s.kind, s.timestamp, s.cookie); }
};
struct SendClientEvent {
    CountedBytes packet{};
    std::uint64_t cookie = 0;
    static auto fields(auto& s) { return std::tie(s.packet, s.cookie); }
};
struct SensorStateChanged {
    std::uint64_t timestamp = 0;
    std::uint16_t state = 0;
    std::uint64_t cookie = 0;
    static auto fields(auto& s) { return std::tie(s.timestamp, s.state, s.cookie); }
};
struct SignalReturn {
    std::int32_t status = 0;
    std::uint64_t cookie = 0;
    static auto fields(auto& s) { return std::tie(s.status, s.cookie); }
};
}  // namespace callback

using Callback = std::variant<callback::TapEvent, callback::SendClientEvent,
                              callback::SensorStateChanged, callback::SignalReturn>;

// A Callback frame's payload: a sequence number the reply repeats, then the
// callback's parameters. Its header names the NorvoStartSensor call it belongs
// to and the callback opnum.
struct CallbackCall {
    std::uint32_t sequence = 0;
    Callback callback{};
};

struct CallbackReply {
    std::uint32_t sequence = 0;
    RpcStatus status = status::ok;  // not ok: the client could not take the callback
    static auto fields(auto& s) { return std::tie(s.sequence, s.status); }
};

struct Hello {
    std::uint32_t version = kProtocolVersion;
    RpcStatus status = status::ok;  // access_denied or server_too_busy: the service hangs up
    AssociationKey association{};   // what further connections of this client join
    static auto fields(auto& s) { return std::tie(s.version, s.status, s.association); }
};

struct Join {
    AssociationKey association{};
    static auto fields(auto& s) { return std::tie(s.association); }
};

struct Fault {
    RpcStatus status = status::ok;
    static auto fields(auto& s) { return std::tie(s.status); }
};

// Encodes any message above; none when an array is longer than its count allows.
template <class Message>
std::optional<std::vector<std::uint8_t>> encode(const Message& message) {
    Writer writer;
    std::apply([&](const auto&... field) { (writer.put(field), ...); }, Message::fields(message));
    if (!writer.ok())
        return std::nullopt;
    return writer.take();
}

// Decodes a message that must fill `payload` exactly.
template <class Message>
std::optional<Message> decode(std::span<const std::uint8_t> payload) {
    Message message;
    Reader reader(payload);
    std::apply([&](auto&... field) { (void)(reader.get(field) && ...); }, Message::fields(message));
    if (!reader.finished())
        return std::nullopt;
    return message;
}

// The Call or Callback alternative of an opnum; procnum_out_of_range for an
// opnum outside the table, bad_stub_data for parameters that do not decode.
[[nodiscard]] std::expected<Call, RpcStatus> decode_call(std::uint8_t opnum,
                                                         std::span<const std::uint8_t> payload);
[[nodiscard]] std::expected<CallbackCall, RpcStatus> decode_callback(
    std::uint8_t opnum, std::span<const std::uint8_t> payload);

std::optional<std::vector<std::uint8_t>> encode_call(const Call& call);
std::optional<std::vector<std::uint8_t>> encode_callback(const CallbackCall& call);

// The opnum of a call or callback alternative.
inline std::uint8_t opnum_of(const Call& call) {
    return static_cast<std::uint8_t>(call.index());
}
inline std::uint8_t opnum_of(const Callback& callback) {
    return static_cast<std::uint8_t>(callback.index());
}

namespace detail {
template <class T, class... Alternatives>
constexpr std::uint8_t index_in(const std::variant<Alternatives...>*) {
    std::uint8_t index = 0;
    (void)((std::is_same_v<T, Alternatives> ? false : (++index, true)) && ...);
    return index;
}
}  // namespace detail

// The opnum of a procedure by its call type, e.g. kOpnum<call::NorvoStopSensor> is 3.
template <class CallType>
inline constexpr std::uint8_t kOpnum =
    detail::index_in<CallType>(static_cast<const Call*>(nullptr));

}  // namespace norvo::wire
