#include "norvo/client/connection.hpp"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "norvo/wire/interface.hpp"
#include "socket_deadline.hpp"

namespace norvo::client {
namespace {

namespace status = wire::status;
namespace call = wire::call;
namespace result = wire::result;

std::unexpected<RpcFailure> failure(wire::RpcStatus code) {
    return std::unexpected(RpcFailure{code});
}

RpcFailure failure_of(wire::ReadFailure io) {
    return {io == wire::ReadFailure::TimedOut ? status::call_cancelled : status::call_failed};
}

Clock::time_point earliest(Deadline a, Clock::time_point b) {
    return a ? std::min(*a, b) : b;
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
    // Connected, and admitted: the service's Hello names a new association.
    static Result<std::unique_ptr<CallSocket>> dial(const std::filesystem::path& path,
                                                    Clock::time_point by) {
        auto fd = connect_by(path, by);
        if (!fd)
            return failure(fd.error());
        auto socket = std::make_unique<CallSocket>(std::move(*fd));
        if (auto hello = socket->await_hello(by); !hello)
            return std::unexpected(hello.error());
        return socket;
    }

    explicit CallSocket(posix::UniqueFd socket) : socket_(std::move(socket)), reader_(fd()) {}

    int fd() const { return socket_.get(); }
    wire::FrameReader& reader() { return reader_; }

    // The service speaks first: it admits this process or says why not. It
    // answers a Join the same way.
    Result<void> await_hello(Deadline by) {
        const auto frame = reader_.next(by);
        if (!frame)
            return failure(status::server_unavailable);
        const auto hello = wire::decode<wire::Hello>(frame->payload);
        if (frame->header.kind != static_cast<std::uint8_t>(wire::FrameKind::Hello) || !hello ||
            hello->version != wire::kProtocolVersion) {
            return failure(status::protocol_error);
        }
        if (hello->status != status::ok)
            return failure(hello->status);
        association = hello->association;
        return {};
    }

    template <class Message>
    Result<void> send(wire::FrameKind kind, const Message& message, Clock::time_point by) {
        if (!write_by(fd(), wire::make_frame(kind, 0, 0, *wire::encode(message)), by))
            return failure(status::server_unavailable);
        return {};
    }

    wire::AssociationKey association;  // set once admitted or joined
    // Guarded by the connection's mutex_.
    bool busy = true;
    bool start = false;  // running a start, outside the cap
    Clock::time_point idle_since;

  private:
    posix::UniqueFd socket_;
    wire::FrameReader reader_;  // the busy call's alone
};

Result<std::unique_ptr<Connection>> Connection::connect(const std::filesystem::path& socket_path,
                                                        Options options) {
    options.max_sockets = std::max<std::size_t>(options.max_sockets, 1);
    const auto by = Clock::now() + options.connect_deadline;
    auto first = CallSocket::dial(socket_path, by);
    if (!first)
        return std::unexpected(first.error());
    // The service ends a connection that stays silent: say Hello back at once.
    if (auto said = (*first)->send(wire::FrameKind::Hello, wire::Hello{}, by); !said)
        return std::unexpected(said.error());
    return std::unique_ptr<Connection>(new Connection(socket_path, options, std::move(*first)));
}

Connection::Connection(std::filesystem::path endpoint, Options options,
                       std::unique_ptr<CallSocket> first)
    : endpoint_(std::move(endpoint)), options_(options), association_(first->association) {
    first->busy = false;
    first->idle_since = Clock::now();
    sockets_.push_back(std::move(first));
    capped_ = 1;
}

Connection::~Connection() {
    disconnect();
}

void Connection::disconnect() {
    {
        std::lock_guard lock(mutex_);
        gone_ = true;
        for (const auto& socket : sockets_) ::shutdown(socket->fd(), SHUT_RDWR);
    }
    returned_.notify_all();
    renewed_.notify_all();
}

std::size_t Connection::socket_count() {
    std::lock_guard lock(mutex_);
    return sockets_.size();
}

Result<Connection::CallSocket*> Connection::take_socket(bool start, Deadline deadline) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (gone_)
            return failure(status::call_failed);
        // An idle socket the service hung up (it restarted, say) is no use.
        capped_ -= static_cast<std::size_t>(
            std::erase_if(sockets_, [](const auto& s) { return !s->busy && !quiet(s->fd()); }));
        // The latest used, so that the others age.
        if (auto* idle = latest_idle()) {
            idle->busy = true;
            if (start) {
                idle->start = true;
                --capped_;
                returned_.notify_one();  // room under the cap
            }
            return idle;
        }
        if (start || capped_ < options_.max_sockets) {
            if (!start)
                ++capped_;  // taken now, so that no other caller passes the cap
            lock.unlock();
            return add_socket(start, deadline);
        }
        if (Clock::now() >= *deadline)
            return failure(status::call_cancelled);
        returned_.wait_until(lock, *deadline);
    }
}

Result<Connection::CallSocket*> Connection::add_socket(bool start, Deadline deadline) {
    auto opened = open_socket(deadline);
    std::lock_guard lock(mutex_);
    if (!opened || gone_) {
        if (!start)
            --capped_;
        returned_.notify_one();
        return opened ? failure(status::call_failed) : std::unexpected(opened.error());
    }
    (*opened)->start = start;
    return sockets_.emplace_back(std::move(*opened)).get();
}

Result<std::unique_ptr<Connection::CallSocket>> Connection::open_socket(Deadline deadline) {
    const auto by = earliest(deadline, Clock::now() + options_.connect_deadline);
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!renewed_.wait_until(lock, by, [&] { return !renewing_ || gone_; }))
            return failure(status::server_unavailable);
        if (gone_)
            return failure(status::call_failed);
        const auto key = association_;
        lock.unlock();
        auto socket = CallSocket::dial(endpoint_, by);
        if (!socket)
            return socket;
        if (auto sent = (*socket)->send(wire::FrameKind::Join, wire::Join{key}, by); !sent)
            return std::unexpected(sent.error());
        auto joined = (*socket)->await_hello(by);
        if (joined)
            return socket;
        if (joined.error().status != status::access_denied)
            return std::unexpected(joined.error());

        // The service no longer knows the association: it restarted, or ran the
        // association down when its last socket ended. One caller makes a fresh
        // one; its contexts are gone with the old.
        lock.lock();
        if (association_ != key || renewing_)
            continue;
        renewing_ = true;
        lock.unlock();
        auto fresh = CallSocket::dial(endpoint_, by);
        if (fresh) {
            if (auto said = (*fresh)->send(wire::FrameKind::Hello, wire::Hello{}, by); !said)
                fresh = std::unexpected(said.error());
        }
        lock.lock();
        renewing_ = false;
        if (fresh) {
            association_ = (*fresh)->association;
            capped_ -= static_cast<std::size_t>(std::erase_if(sockets_, [&](const auto& s) {
                return !s->busy && s->association != association_;
            }));
        }
        renewed_.notify_all();
        return fresh;
    }
}

void Connection::keep_a_socket_idle() {
    {
        std::lock_guard lock(mutex_);
        const bool idle = std::ranges::any_of(sockets_, [](const auto& s) { return !s->busy; });
        if (gone_ || idle || capped_ >= options_.max_sockets)
            return;
        ++capped_;
    }
    // When it fails, a later call tries again.
    if (auto added = add_socket(/*start=*/false, Clock::now() + options_.connect_deadline))
        give_back(**added, /*clean=*/true);
}

void Connection::give_back(CallSocket& socket, bool clean) {
    std::lock_guard lock(mutex_);
    if (socket.start) {
        socket.start = false;
        ++capped_;
    }
    if (!clean || socket.association != association_ || capped_ > options_.max_sockets) {
        std::erase_if(sockets_, [&](const auto& held) { return held.get() == &socket; });
        --capped_;
    } else {
        socket.busy = false;
        socket.idle_since = Clock::now();
        trim_idle(socket.idle_since);
    }
    returned_.notify_one();
}

Connection::CallSocket* Connection::latest_idle() const {
    CallSocket* latest = nullptr;
    for (const auto& socket : sockets_) {
        if (!socket->busy && (!latest || socket->idle_since > latest->idle_since))
            latest = socket.get();
    }
    return latest;
}

void Connection::trim_idle(Clock::time_point now) {
    const CallSocket* kept = latest_idle();
    capped_ -= static_cast<std::size_t>(std::erase_if(sockets_, [&](const auto& s) {
        return !s->busy && s.get() != kept && now - s->idle_since >= options_.idle_time;
    }));
}

Result<wire::ReceivedFrame> Connection::call(std::uint8_t opnum,
                                             std::span<const std::uint8_t> payload,
                                             Callbacks* callbacks) {
    // A sensor run lasts as long as the application wants it to.
    const bool start = opnum == wire::kOpnum<call::NorvoStartSensor>;
    const Deadline deadline = start ? Deadline{} : Clock::now() + options_.call_deadline;
    auto socket = take_socket(start, deadline);
    if (!socket)
        return std::unexpected(socket.error());
    if (start)
        keep_a_socket_idle();
    // However the call ends, a throwing callback included.
    struct GiveBack {
        Connection& connection;
        CallSocket& socket;
        bool clean = false;
        ~GiveBack() { connection.give_back(socket, clean); }
    } give_back{*this, **socket};
    auto frame = converse(**socket, opnum, payload, callbacks, deadline);
    if (!frame)
        return std::unexpected(frame.error());
    give_back.clean = true;
    if (frame->header.kind == static_cast<std::uint8_t>(wire::FrameKind::Fault)) {
        const auto fault = wire::decode<wire::Fault>(frame->payload);
        return failure(fault ? fault->status : status::bad_stub_data);
    }
    return std::move(*frame);
}

Result<wire::ReceivedFrame> Connection::converse(CallSocket& socket, std::uint8_t opnum,
                                                 std::span<const std::uint8_t> payload,
                                                 Callbacks* callbacks, Deadline deadline) {
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
Clock::time_point Connection::write_deadline(Deadline call) const {
    return call.value_or(Clock::now() + options_.call_deadline);
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

// Every callback is answered, also one that does not decode, so the service's
// loop never waits for nothing.
Result<void> Connection::answer_callback(CallSocket& socket, std::uint32_t call_id,
                                         const wire::ReceivedFrame& frame, Callbacks& callbacks,
                                         Deadline deadline) {
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
