#include "norvo/client/connection.hpp"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

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

// The service speaks first: it admits this process or says why not. It answers
// a Join the same way.
Result<wire::Hello> await_hello(int socket) {
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
    return *hello;
}

template <class Message>
bool send_frame(int socket, wire::FrameKind kind, const Message& message) {
    return wire::write_all(socket, wire::make_frame(kind, 0, 0, *wire::encode(message)));
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

class Connection::CallSocket {
  public:
    explicit CallSocket(posix::UniqueFd socket) : socket_(std::move(socket)), reader_(fd()) {}

    int fd() const { return socket_.get(); }
    wire::FrameReader& reader() { return reader_; }
    bool busy = true;  // guarded by the connection's sockets_mutex_

  private:
    posix::UniqueFd socket_;
    wire::FrameReader reader_;  // the busy call's alone
};

Result<std::unique_ptr<Connection>> Connection::connect(const std::filesystem::path& socket_path) {
    auto socket = connect_socket(socket_path);
    if (!socket)
        return std::unexpected(socket.error());
    const auto hello = await_hello(socket->get());
    if (!hello)
        return std::unexpected(hello.error());
    // The service ends a connection that stays silent: say Hello back at once.
    if (!send_frame(socket->get(), wire::FrameKind::Hello, wire::Hello{}))
        return failure(status::server_unavailable);
    return std::unique_ptr<Connection>(
        new Connection(socket_path, hello->association, std::move(*socket)));
}

Connection::Connection(std::filesystem::path endpoint, wire::AssociationKey association,
                       posix::UniqueFd first)
    : endpoint_(std::move(endpoint)), association_(association) {
    sockets_.push_back(std::make_unique<CallSocket>(std::move(first)));
    sockets_.back()->busy = false;
}

Connection::~Connection() {
    disconnect();
}

void Connection::disconnect() {
    std::lock_guard lock(sockets_mutex_);
    gone_ = true;
    for (const auto& socket : sockets_) ::shutdown(socket->fd(), SHUT_RDWR);
}

Result<Connection::CallSocket*> Connection::take_socket() {
    {
        std::lock_guard lock(sockets_mutex_);
        if (gone_)
            return failure(status::call_failed);
        for (const auto& socket : sockets_) {
            if (!socket->busy) {
                socket->busy = true;
                return socket.get();
            }
        }
    }
    return add_socket(/*busy=*/true);
}

Result<Connection::CallSocket*> Connection::add_socket(bool busy) {
    auto opened = open_joined_socket();
    if (!opened)
        return std::unexpected(opened.error());
    std::lock_guard lock(sockets_mutex_);
    if (gone_)
        return failure(status::call_failed);
    auto& added = sockets_.emplace_back(std::make_unique<CallSocket>(std::move(*opened)));
    added->busy = busy;
    return added.get();
}

Result<posix::UniqueFd> Connection::open_joined_socket() {
    auto socket = connect_socket(endpoint_);
    if (!socket)
        return std::unexpected(socket.error());
    if (auto admitted = await_hello(socket->get()); !admitted)
        return std::unexpected(admitted.error());
    if (!send_frame(socket->get(), wire::FrameKind::Join, wire::Join{association_}))
        return failure(status::server_unavailable);
    if (auto joined = await_hello(socket->get()); !joined)
        return std::unexpected(joined.error());
    return std::move(*socket);
}

void Connection::keep_a_socket_idle() {
    {
        std::lock_guard lock(sockets_mutex_);
        const auto idle = std::ranges::count_if(sockets_, [](const auto& s) { return !s->busy; });
        if (gone_ || idle > 1)
            return;
    }
    (void)add_socket(/*busy=*/false);  // when it fails, a later call tries again
}

void Connection::give_back(CallSocket& socket, bool clean) {
    std::lock_guard lock(sockets_mutex_);
    if (clean) {
        socket.busy = false;
        return;
    }
    std::erase_if(sockets_, [&](const auto& held) { return held.get() == &socket; });
}

Result<wire::ReceivedFrame> Connection::call(std::uint8_t opnum,
                                             std::span<const std::uint8_t> payload,
                                             Callbacks* callbacks) {
    auto socket = take_socket();
    if (!socket)
        return std::unexpected(socket.error());
    // However the call ends, a throwing callback included.
    struct GiveBack {
        Connection& connection;
        CallSocket& socket;
        bool clean = false;
        ~GiveBack() { connection.give_back(socket, clean); }
    } give_back{*this, **socket};
    auto frame = converse(**socket, opnum, payload, callbacks);
    if (!frame)
        return failure(status::call_failed);
    give_back.clean = true;
    if (frame->header.kind == static_cast<std::uint8_t>(wire::FrameKind::Fault)) {
        const auto fault = wire::decode<wire::Fault>(frame->payload);
        return failure(fault ? fault->status : status::bad_stub_data);
    }
    return std::move(*frame);
}

std::optional<wire::ReceivedFrame> Connection::converse(CallSocket& socket, std::uint8_t opnum,
                                                        std::span<const std::uint8_t> payload,
                                                        Callbacks* callbacks) {
    auto call_id = ++next_call_id_;
    if (call_id == 0)
        call_id = ++next_call_id_;  // 0 stands for no call
    if (!wire::write_all(socket.fd(),
                         wire::make_frame(wire::FrameKind::Call, opnum, call_id, payload))) {
        return std::nullopt;
    }
    for (;;) {
        auto frame = socket.reader().next();
        if (!frame) {
            if (frame.error() == wire::ReadFailure::Malformed)
                continue;
            disconnect();  // the service is gone: so is every other socket's answer
            return std::nullopt;
        }
        if (frame->header.call_id != call_id)
            continue;  // nothing else is in flight on this socket
        switch (static_cast<wire::FrameKind>(frame->header.kind)) {
            case wire::FrameKind::Callback:
                answer_callback(socket, call_id, *frame, callbacks);
                break;
            case wire::FrameKind::Result:
            case wire::FrameKind::Fault:
                return std::move(*frame);
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
void Connection::answer_callback(CallSocket& socket, std::uint32_t call_id,
                                 const wire::ReceivedFrame& frame, Callbacks* callbacks) {
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
    wire::write_all(socket.fd(),
                    wire::make_frame(wire::FrameKind::CallbackReply, frame.header.opnum, call_id,
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
    keep_a_socket_idle();
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
