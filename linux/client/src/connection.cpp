#include "norvo/client/connection.hpp"

#include <algorithm>
#include <atomic>

#include "call_socket.hpp"
#include "norvo/wire/interface.hpp"
#include "socket_pool.hpp"

namespace norvo::client {
namespace {

namespace status = wire::status;
namespace call = wire::call;
namespace result = wire::result;

RpcFailure failure_of(wire::ReadFailure io) {
    return {io == wire::ReadFailure::TimedOut ? status::call_cancelled : status::call_failed};
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

// The conversation of each call over a socket of the pool. Any thread: the
// call ids are an atomic count, and the pool has its own lock.
class Connection::Impl {
  public:
    Impl(std::filesystem::path endpoint, const Options& options, std::unique_ptr<CallSocket> first)
        : options_(options), pool_(std::move(endpoint), options, std::move(first)) {}

    SocketPool& pool() { return pool_; }

    template <class Reply, class Request>
    Result<Reply> invoke(const Request& request, Callbacks* callbacks = nullptr);

  private:
    Result<wire::ReceivedFrame> call(std::uint8_t opnum, std::span<const std::uint8_t> payload,
                                     Callbacks* callbacks);
    // The call's Result or Fault frame, or why there is none.
    Result<wire::ReceivedFrame> converse(CallSocket& socket, std::uint8_t opnum,
                                         std::span<const std::uint8_t> payload,
                                         Callbacks* callbacks, wire::Deadline deadline);
    // Runs the callback, then answers it by the write deadline.
    Result<void> answer_callback(CallSocket& socket, std::uint32_t call_id,
                                 const wire::ReceivedFrame& frame, Callbacks& callbacks,
                                 wire::Deadline deadline);
    // A write's: the call's deadline, or for a start the call deadline from now.
    Clock::time_point write_deadline(wire::Deadline call) const;

    const Options options_;
    std::atomic<std::uint32_t> next_call_id_{0};
    SocketPool pool_;
};

Result<std::unique_ptr<Connection>> Connection::connect(const std::filesystem::path& socket_path,
                                                        Options options) {
    options.max_sockets = std::max<std::size_t>(options.max_sockets, 1);
    auto first = CallSocket::open_association(socket_path, Clock::now() + options.connect_deadline);
    if (!first)
        return std::unexpected(first.error());
    return std::unique_ptr<Connection>(
        new Connection(std::make_unique<Impl>(socket_path, options, std::move(*first))));
}

Connection::Connection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Connection::~Connection() {
    disconnect();
}

void Connection::disconnect() {
    impl_->pool().close_all();
}

std::size_t Connection::socket_count() {
    return impl_->pool().size();
}

Result<wire::ReceivedFrame> Connection::Impl::call(std::uint8_t opnum,
                                                   std::span<const std::uint8_t> payload,
                                                   Callbacks* callbacks) {
    // A sensor run lasts as long as the application wants it to.
    const bool start = opnum == wire::kOpnum<call::NorvoStartSensor>;
    const wire::Deadline deadline =
        start ? wire::Deadline{} : Clock::now() + options_.call_deadline;
    auto lease = pool_.take(start, deadline);
    if (!lease)
        return std::unexpected(lease.error());
    auto frame = converse(lease->socket(), opnum, payload, callbacks, deadline);
    if (!frame)
        return std::unexpected(frame.error());
    lease->ended_cleanly();
    if (frame->header.kind == static_cast<std::uint8_t>(wire::FrameKind::Fault)) {
        const auto fault = wire::decode<wire::Fault>(frame->payload);
        return failure(fault ? fault->status : status::bad_stub_data);
    }
    return std::move(*frame);
}

Result<wire::ReceivedFrame> Connection::Impl::converse(CallSocket& socket, std::uint8_t opnum,
                                                       std::span<const std::uint8_t> payload,
                                                       Callbacks* callbacks,
                                                       wire::Deadline deadline) {
    auto call_id = ++next_call_id_;
    if (call_id == 0)
        call_id = ++next_call_id_;  // 0 stands for no call
    if (auto sent =
            write_by(socket.fd(), wire::make_frame(wire::FrameKind::Call, opnum, call_id, payload),
                     write_deadline(deadline));
        !sent) {
        return std::unexpected(failure_of(sent.error()));
    }
    for (;;) {
        auto frame = socket.reader().next(deadline);
        if (!frame) {
            if (frame.error() == wire::ReadFailure::Malformed)
                continue;
            return std::unexpected(failure_of(frame.error()));
        }
        if (frame->header.call_id != call_id)
            continue;  // nothing else is in flight on this socket
        switch (static_cast<wire::FrameKind>(frame->header.kind)) {
            case wire::FrameKind::Callback:
                // Only a start takes callbacks.
                if (!callbacks)
                    return failure(status::protocol_error);
                if (auto answered = answer_callback(socket, call_id, *frame, *callbacks, deadline);
                    !answered) {
                    return std::unexpected(answered.error());
                }
                break;
            case wire::FrameKind::Result:
            case wire::FrameKind::Fault:
                return std::move(*frame);
            default:
                break;  // nothing else answers a call
        }
    }
}

// A start has no deadline of its own, but none of its writes may wait for ever
// on a service that does not read.
Clock::time_point Connection::Impl::write_deadline(wire::Deadline call) const {
    return call.value_or(Clock::now() + options_.call_deadline);
}

template <class Reply, class Request>
Result<Reply> Connection::Impl::invoke(const Request& request, Callbacks* callbacks) {
    const auto payload = wire::encode(request);
    if (!payload)
        return failure(status::bad_stub_data);
    auto frame = call(wire::kOpnum<Request>, *payload, callbacks);
    if (!frame)
        return std::unexpected(frame.error());
    return decode_result<Reply>(*frame);
}

// Every callback is answered, also one that does not decode, so the service's
// loop never waits for nothing.
Result<void> Connection::Impl::answer_callback(CallSocket& socket, std::uint32_t call_id,
                                               const wire::ReceivedFrame& frame,
                                               Callbacks& callbacks, wire::Deadline deadline) {
    auto decoded = wire::decode_callback(frame.header.opnum, frame.payload);
    wire::CallbackReply reply{.sequence = decoded ? decoded->sequence : 0};
    if (!decoded) {
        reply.status = decoded.error();
    } else {
        std::visit(
            [&](const auto& c) {
                using C = std::decay_t<decltype(c)>;
                if constexpr (std::is_same_v<C, wire::callback::TapEvent>) {
                    callbacks.tap_event(c.kind, c.timestamp, c.cookie);
                } else if constexpr (std::is_same_v<C, wire::callback::SendClientEvent>) {
                    callbacks.send_client_event(c.packet.bytes, c.cookie);
                } else if constexpr (std::is_same_v<C, wire::callback::SensorStateChanged>) {
                    callbacks.sensor_state_changed(c.timestamp, c.state, c.cookie);
                } else {
                    callbacks.signal_return(c.status, c.cookie);
                }
            },
            decoded->callback);
    }
    if (auto sent = write_by(socket.fd(),
                             wire::make_frame(wire::FrameKind::CallbackReply, frame.header.opnum,
                                              call_id, *wire::encode(reply)),
                             write_deadline(deadline));
        !sent) {
        return std::unexpected(failure_of(sent.error()));
    }
    return {};
}

Result<ContextHandle> Connection::RemoteOpen() {
    auto out = impl_->invoke<result::RemoteOpen>(call::RemoteOpen{});
    if (!out)
        return std::unexpected(out.error());
    return out->context;
}

Result<void> Connection::RemoteClose(ContextHandle& context) {
    auto out = impl_->invoke<result::RemoteClose>(call::RemoteClose{context});
    if (!out)
        return std::unexpected(out.error());
    context = out->context;
    return {};
}

Result<HRESULT> Connection::NorvoStartSensor(const ContextHandle& context, std::uint64_t cookie,
                                             Callbacks& callbacks) {
    return status_of(
        impl_->invoke<result::Status>(call::NorvoStartSensor{context, cookie}, &callbacks));
}

Result<HRESULT> Connection::NorvoStopSensor(const ContextHandle& context) {
    return status_of(impl_->invoke<result::Status>(call::NorvoStopSensor{context}));
}

Result<HRESULT> Connection::NorvoReceiveClientEvent(const ContextHandle& context,
                                                    std::span<const std::uint8_t> packet) {
    return status_of(impl_->invoke<result::Status>(
        call::NorvoReceiveClientEvent{context, {{packet.begin(), packet.end()}}}));
}

Result<HRESULT> Connection::NorvoSetProperty(const ContextHandle& context, PropertyKey key,
                                             std::span<const std::uint8_t> value) {
    return status_of(impl_->invoke<result::Status>(
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
    auto out = impl_->invoke<result::NorvoQueryProperty>(request);
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
