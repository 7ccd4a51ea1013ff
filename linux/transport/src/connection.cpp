#include "connection.hpp"

#include <sys/socket.h>

#include <cerrno>

#include "call_dispatch.hpp"
#include "norvo/log.hpp"
#include "norvo/service/procedures.hpp"
#include "server_state.hpp"

namespace norvo::transport {

Connection::Connection(posix::UniqueFd socket, std::shared_ptr<Association> association,
                       service::UserQuota::Permit permit, ServerState& server, int epoll,
                       std::uint64_t key)
    : association_(std::move(association)),
      server_(server),
      permit_(std::move(permit)),
      writer_(std::move(socket), epoll, key, server.limits.outgoing_bytes) {}

Connection::~Connection() = default;

// A client may write and leave before it reads the Hello: once epoll reports the
// end, what it sent is served all the same.
bool Connection::greet() {
    if (!writer_.watch())
        return false;
    (void)send_hello({.association = association_->key()});
    return true;
}

ssize_t Connection::receive() {
    const auto room = incoming_.space();
    const auto n = ::recv(writer_.fd(), room.data(), room.size(), MSG_DONTWAIT);
    if (n > 0)
        incoming_.commit(static_cast<std::size_t>(n));
    return n;
}

bool Connection::on_readable() {
    const auto n = receive();
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    return n > 0 && serve_frames();
}

// Frames that came while the replies waited are served once they have gone.
bool Connection::on_writable() {
    return writer_.flush() && serve_frames();
}

// Nothing more will be written, so no reply holds the frames back; the socket
// gives what is left, then its end.
void Connection::on_hang_up() {
    if (!writer_.client_left())
        return;
    for (bool more = serve_frames(); more;) {
        const auto n = receive();
        if (n < 0 && errno == EINTR)
            continue;
        more = n > 0 && serve_frames();
    }
}

bool Connection::serve_frames() {
    while (!writer_.waiting()) {
        auto frame = incoming_.next();
        if (!frame)
            return true;
        const bool first = !heard_from_;
        heard_from_ = true;
        if (*frame) {
            route(**frame, first);
        } else {
            send_fault(0, 0, wire::status::protocol_error);
            // An oversized length leaves nothing to resynchronise on.
            if (frame->error() == wire::ReadFailure::Oversized)
                return false;
        }
    }
    return true;
}

void Connection::close(bool last) {
    writer_.close();
    // A context that is closing has its run stopped by the close: lines of its client's.
    const log::CallerScope caller(log_caller());
    for (const auto& token : runs_.end(/*stop_runs=*/!last)) {
        if (auto lease = contexts().lease(token)) {
            (void)service::NorvoStopSensor(lease->context());
            lease->release();
        }
    }
    permit_.reset();
}

void Connection::run_down() {
    const log::CallerScope caller(log_caller());
    for (auto& slot : contexts().remove_all()) slot->close(/*client_gone=*/true);
}

std::string_view Connection::log_caller() const {
    return server_.policy.trusted(uid()) ? std::string_view{} : std::string_view(account());
}

void Connection::route(const wire::ReceivedFrame& frame, bool first) {
    switch (static_cast<wire::FrameKind>(frame.header.kind)) {
        case wire::FrameKind::Call:
            dispatch_call(*this, frame.header, frame.payload);
            return;
        case wire::FrameKind::CallbackReply:
            take_callback_reply(frame.payload);
            return;
        case wire::FrameKind::Hello:
            return;  // the client's answer to ours: it counts as its first frame
        case wire::FrameKind::Join:
            join(frame.payload, first);
            return;
        default:
            send_fault(frame.header.call_id, frame.header.opnum, wire::status::protocol_error);
            return;
    }
}

void Connection::join(std::span<const std::uint8_t> payload, bool first) {
    const auto request = wire::decode<wire::Join>(payload);
    auto joined =
        request && first ? server_.associations.join(request->association, uid()) : nullptr;
    if (!joined) {
        send_hello({.status = wire::status::access_denied});
        return writer_.hang_up();
    }
    // The association it was given on admission has never been used.
    (void)server_.associations.leave(*association_);
    association_ = std::move(joined);
    send_hello({.association = association_->key()});
}

// A reply nobody waits for (late, repeated or garbled) is dropped.
void Connection::take_callback_reply(std::span<const std::uint8_t> payload) {
    if (const auto reply = wire::decode<wire::CallbackReply>(payload))
        runs_.settle(reply->sequence, reply->status);
}

wire::RpcStatus Connection::callback(std::uint32_t call_id, std::uint64_t run,
                                     wire::Callback callback) {
    const auto opnum = wire::opnum_of(callback);
    return runs_.exchange(run, [&](std::uint32_t sequence) {
        const auto payload = wire::encode_callback({sequence, std::move(callback)});
        if (!payload)
            return wire::status::bad_stub_data;
        return writer_.send(wire::make_frame(wire::FrameKind::Callback, opnum, call_id, *payload))
                   ? wire::status::ok
                   : wire::status::call_failed;
    });
}

void Connection::send_result(std::uint32_t call_id, std::uint8_t opnum,
                             std::span<const std::uint8_t> payload) {
    writer_.send(wire::make_frame(wire::FrameKind::Result, opnum, call_id, payload));
}

void Connection::send_fault(std::uint32_t call_id, std::uint8_t opnum, wire::RpcStatus status) {
    writer_.send(wire::make_frame(wire::FrameKind::Fault, opnum, call_id,
                                  *wire::encode(wire::Fault{status})));
}

bool Connection::send_hello(const wire::Hello& hello) {
    return writer_.send(wire::make_frame(wire::FrameKind::Hello, 0, 0, *wire::encode(hello)));
}

}  // namespace norvo::transport
