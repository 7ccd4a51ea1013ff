#include "norvo/client/connection.hpp"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>

#include "norvo/posix/unix_socket.hpp"
#include "norvo/wire/interface.hpp"

namespace norvo::client {
namespace {

namespace status = wire::status;
namespace call = wire::call;
namespace result = wire::result;

std::unexpected<RpcFailure> failure(wire::RpcStatus code) {
    return std::unexpected(RpcFailure{code});
}

Result<posix::UniqueFd> connect_socket(const std::filesystem::path& path) {
    const auto address = posix::UnixAddress::of(path);
    if (!address)
        return failure(status::invalid_endpoint_format);
    auto socket = posix::unix_stream_socket();
    if (!socket)
        return failure(status::out_of_resources);
    while (::connect(socket->get(), address->get(), address->size()) != 0) {
        if (errno == EINTR)
            continue;
        return failure(errno == EACCES ? status::access_denied : status::server_unavailable);
    }
    return std::move(*socket);
}

// The service speaks first: it admits this process or says why not.
Result<void> await_admission(int socket) {
    const auto frame = wire::read_frame(socket);
    if (!frame)
        return failure(status::server_unavailable);
    const auto hello = wire::decode<wire::Hello>(frame->payload);
    if (frame->header.kind != static_cast<std::uint8_t>(wire::FrameKind::Hello) || !hello ||
        hello->version != wire::kProtocolVersion) {
        return failure(status::protocol_error);
    }
    if (hello->status != status::ok)
        return failure(hello->status);
    return {};
}

template <class Message>
Result<Message> decode_result(const wire::ReceivedFrame& frame) {
    auto message = wire::decode<Message>(frame.payload);
    if (!message)
        return failure(status::bad_stub_data);
    return std::move(*message);
}

Result<HRESULT> status_of(const Result<result::Status>& out) {
    if (!out)
        return std::unexpected(out.error());
    return out->value;
}

}  // namespace

// The frames that answer one call. Guarded by the connection's calls_mutex_.
class PendingCall {
  public:
    std::deque<wire::ReceivedFrame> inbox;
    std::condition_variable arrived;
    bool waiting = false;
};

Result<std::unique_ptr<Connection>> Connection::connect(const std::filesystem::path& socket_path) {
    auto socket = connect_socket(socket_path);
    if (!socket)
        return std::unexpected(socket.error());
    if (auto admitted = await_admission(socket->get()); !admitted) {
        return std::unexpected(admitted.error());
    }
    // The service ends a connection that stays silent: say Hello back at once.
    const auto hello = wire::encode(wire::Hello{});
    if (!wire::write_all(socket->get(), wire::make_frame(wire::FrameKind::Hello, 0, 0, *hello)))
        return failure(status::server_unavailable);
    return std::unique_ptr<Connection>(new Connection(std::move(*socket)));
}

Connection::Connection(posix::UniqueFd socket)
    : socket_(std::move(socket)), reader_(socket_.get()) {}

Connection::~Connection() {
    disconnect();
}

void Connection::disconnect() {
    ::shutdown(socket_.get(), SHUT_RDWR);
}

// No thread of its own reads the socket: a waiting caller does, one at a time,
// and hands the role on once its own frame has come. A lone call thus reads its
// answer itself, with no thread to wake in between.
std::optional<wire::ReceivedFrame> Connection::next_frame(PendingCall& mine) {
    std::unique_lock lock(calls_mutex_);
    for (;;) {
        if (!mine.inbox.empty()) {
            auto frame = std::move(mine.inbox.front());
            mine.inbox.pop_front();
            return frame;
        }
        if (gone_)
            return std::nullopt;
        if (reading_) {
            mine.waiting = true;
            mine.arrived.wait(lock);
            mine.waiting = false;
            continue;
        }
        reading_ = true;
        lock.unlock();
        auto frame = reader_.next();
        lock.lock();
        reading_ = false;
        if (frame) {
            if (auto found = calls_.find(frame->header.call_id); found != calls_.end()) {
                found->second->inbox.push_back(std::move(*frame));
                found->second->arrived.notify_one();
            }
        } else if (frame.error() != wire::ReadFailure::Malformed) {
            gone_ = true;
        }
        if (!mine.inbox.empty() || gone_)
            hand_over_reading();
    }
}

void Connection::hand_over_reading() {
    for (const auto& [id, call] : calls_) {
        if (call->waiting && (gone_ || call->inbox.empty())) {
            call->arrived.notify_one();
            if (!gone_)
                return;
        }
    }
}

bool Connection::send(const std::vector<std::uint8_t>& frame) {
    std::lock_guard lock(write_mutex_);
    return wire::write_all(socket_.get(), frame);
}

Result<wire::ReceivedFrame> Connection::call(std::uint8_t opnum,
                                             std::span<const std::uint8_t> payload,
                                             Callbacks* callbacks) {
    auto pending = std::make_shared<PendingCall>();
    std::uint32_t call_id = 0;
    {
        std::lock_guard lock(calls_mutex_);
        if (gone_)
            return failure(status::call_failed);
        call_id = ++next_call_id_;
        if (call_id == 0)
            call_id = ++next_call_id_;  // 0 stands for no call
        calls_.emplace(call_id, pending);
    }
    // However the call ends, a throwing callback included.
    struct Unregister {
        Connection& connection;
        std::uint32_t call_id;
        ~Unregister() {
            std::lock_guard lock(connection.calls_mutex_);
            connection.calls_.erase(call_id);
        }
    } unregister{*this, call_id};
    if (!send(wire::make_frame(wire::FrameKind::Call, opnum, call_id, payload))) {
        return failure(status::call_failed);
    }
    for (;;) {
        auto frame = next_frame(*pending);
        if (!frame)
            return failure(status::call_failed);
        switch (static_cast<wire::FrameKind>(frame->header.kind)) {
            case wire::FrameKind::Callback:
                answer_callback(call_id, *frame, callbacks);
                break;
            case wire::FrameKind::Result:
                return std::move(*frame);
            case wire::FrameKind::Fault: {
                const auto fault = wire::decode<wire::Fault>(frame->payload);
                return failure(fault ? fault->status : status::bad_stub_data);
            }
            default:
                break;  // nothing else answers a call
        }
    }
}

template <class Reply, class Request>
Result<Reply> Connection::invoke(const Request& request, Callbacks* callbacks) {
    const auto payload = wire::encode(request);
    if (!payload)
        return failure(status::bad_stub_data);
    auto frame = call(wire::kOpnum<Request>, *payload, callbacks);
    if (!frame)
        return std::unexpected(frame.error());
    return decode_result<Reply>(*frame);
}

// Every callback is answered, also one this call cannot take, so the service's
// loop never waits for nothing.
void Connection::answer_callback(std::uint32_t call_id, const wire::ReceivedFrame& frame,
                                 Callbacks* callbacks) {
    auto decoded = wire::decode_callback(frame.header.opnum, frame.payload);
    wire::CallbackReply reply{.sequence = decoded ? decoded->sequence : 0};
    if (!decoded) {
        reply.status = decoded.error();
    } else if (!callbacks) {
        reply.status = status::protocol_error;
    } else {
        std::visit(
            [&](const auto& c) {
                using C = std::decay_t<decltype(c)>;
                if constexpr (std::is_same_v<C, wire::callback::TapEvent>) {
                    callbacks->tap_event(c.kind, c.timestamp, c.cookie);
                } else if constexpr (std::is_same_v<C, wire::callback::SendClientEvent>) {
                    callbacks->send_client_event(c.packet.bytes, c.cookie);
                } else if constexpr (std::is_same_v<C, wire::callback::SensorStateChanged>) {
                    callbacks->sensor_state_changed(c.timestamp, c.state, c.cookie);
                } else {
                    callbacks->signal_return(c.status, c.cookie);
                }
            },
            decoded->callback);
    }
    send(wire::make_frame(wire::FrameKind::CallbackReply, frame.header.opnum, call_id,
                          *wire::encode(reply)));
}

Result<ContextHandle> Connection::RemoteOpen() {
    auto out = invoke<result::RemoteOpen>(call::RemoteOpen{});
    if (!out)
        return std::unexpected(out.error());
    return out->context;
}

Result<void> Connection::RemoteClose(ContextHandle& context) {
    auto out = invoke<result::RemoteClose>(call::RemoteClose{context});
    if (!out)
        return std::unexpected(out.error());
    context = out->context;
    return {};
}

Result<HRESULT> Connection::NorvoStartSensor(const ContextHandle& context, std::uint64_t cookie,
                                             Callbacks& callbacks) {
    return status_of(invoke<result::Status>(call::NorvoStartSensor{context, cookie}, &callbacks));
}

Result<HRESULT> Connection::NorvoStopSensor(const ContextHandle& context) {
    return status_of(invoke<result::Status>(call::NorvoStopSensor{context}));
}

Result<HRESULT> Connection::NorvoReceiveClientEvent(const ContextHandle& context,
                                                    std::span<const std::uint8_t> packet) {
    return status_of(invoke<result::Status>(
        call::NorvoReceiveClientEvent{context, {{packet.begin(), packet.end()}}}));
}

Result<HRESULT> Connection::NorvoSetProperty(const ContextHandle& context, PropertyKey key,
                                             std::span<const std::uint8_t> value) {
    return status_of(invoke<result::Status>(
        call::NorvoSetProperty{context, key, {{value.begin(), value.end()}}}));
}

Result<QueryResult> Connection::NorvoQueryProperty(const ContextHandle& context, PropertyKey key,
                                                   std::optional<std::vector<std::uint8_t>> buffer,
                                                   std::optional<std::vector<std::uint8_t>> input) {
    call::NorvoQueryProperty request{.context = context, .key = key};
    if (buffer)
        request.buffer = wire::PropertyBuffer{std::move(*buffer)};
    if (input)
        request.input = wire::PropertyBuffer{std::move(*input)};
    auto out = invoke<result::NorvoQueryProperty>(request);
    if (!out)
        return std::unexpected(out.error());
    QueryResult query{out->value, out->size, std::nullopt};
    if (out->buffer)
        query.buffer = std::move(out->buffer->data);
    return query;
}

Result<PropertyValue> Connection::read_property(const ContextHandle& context, PropertyKey key) {
    auto length = NorvoQueryProperty(context, key, std::nullopt);
    if (!length)
        return std::unexpected(length.error());
    if (length->value != 0 || length->size < 0)
        return PropertyValue{length->value, {}};
    auto value = NorvoQueryProperty(
        context, key, std::vector<std::uint8_t>(static_cast<std::size_t>(length->size)));
    if (!value)
        return std::unexpected(value.error());
    if (value->value != 0 || !value->buffer)
        return PropertyValue{value->value, {}};
    auto bytes = std::move(*value->buffer);
    bytes.resize(std::min(bytes.size(), static_cast<std::size_t>(std::max(value->size, 0))));
    return PropertyValue{value->value, std::move(bytes)};
}

}  // namespace norvo::client
