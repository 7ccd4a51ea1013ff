#include "connection.hpp"

#include <sys/socket.h>

#include <condition_variable>
#include <optional>

#include "call_dispatch.hpp"
#include "server_state.hpp"

namespace norvo::transport {

// The reply to one callback, or the news that none will come.
class CallbackWaiter {
  public:
    void settle(wire::RpcStatus status) {
        {
            std::lock_guard lock(mutex_);
            if (!outcome_)
                outcome_ = status;
        }
        settled_.notify_all();
    }

    wire::RpcStatus wait() {
        std::unique_lock lock(mutex_);
        settled_.wait(lock, [&] { return outcome_.has_value(); });
        return *outcome_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable settled_;
    std::optional<wire::RpcStatus> outcome_;
};

Connection::Connection(wire::FileDescriptor socket, ServerState& server)
    : socket_(std::move(socket)),
      server_(server),
      contexts_(server.limits.contexts_per_connection) {}

Connection::~Connection() = default;

void Connection::serve() {
    const auto hello = wire::encode(wire::Hello{});
    if (send(wire::make_frame(wire::FrameKind::Hello, 0, 0, *hello))) {
        wire::FrameReader reader(socket_.get());
        for (;;) {
            auto frame = reader.next();
            if (frame) {
                route(*frame);
            } else if (frame.error() == wire::ReadFailure::Malformed) {
                send_fault(0, 0, wire::status::protocol_error);
            } else {
                // An oversized length leaves nothing to resynchronise on.
                if (frame.error() == wire::ReadFailure::Oversized) {
                    send_fault(0, 0, wire::status::protocol_error);
                }
                break;
            }
        }
    }
    hang_up();
    end_callbacks();
    for (auto& slot : contexts_.remove_all()) slot->close(/*client_gone=*/true);
    server_.connections.remove(this);
}

void Connection::hang_up() {
    ::shutdown(socket_.get(), SHUT_RDWR);
}

void Connection::route(const wire::ReceivedFrame& frame) {
    switch (static_cast<wire::FrameKind>(frame.header.kind)) {
        case wire::FrameKind::Call:
            dispatch_call(*this, frame.header, frame.payload);
            return;
        case wire::FrameKind::CallbackReply:
            take_callback_reply(frame.payload);
            return;
        default:
            send_fault(frame.header.call_id, frame.header.opnum, wire::status::protocol_error);
            return;
    }
}

// A reply nobody waits for (late, repeated or garbled) is dropped.
void Connection::take_callback_reply(std::span<const std::uint8_t> payload) {
    const auto reply = wire::decode<wire::CallbackReply>(payload);
    if (!reply)
        return;
    std::shared_ptr<CallbackWaiter> waiter;
    {
        std::lock_guard lock(callbacks_mutex_);
        if (auto found = waiting_callbacks_.find(reply->sequence);
            found != waiting_callbacks_.end()) {
            waiter = found->second;
        }
    }
    if (waiter)
        waiter->settle(reply->status);
}

wire::RpcStatus Connection::callback(std::uint32_t call_id, wire::Callback callback) {
    const auto opnum = wire::opnum_of(callback);
    auto waiter = std::make_shared<CallbackWaiter>();
    std::uint32_t sequence = 0;
    {
        std::lock_guard lock(callbacks_mutex_);
        if (gone_)
            return wire::status::call_failed;
        sequence = ++next_sequence_;
        waiting_callbacks_.emplace(sequence, waiter);
    }
    const auto payload = wire::encode_callback({sequence, std::move(callback)});
    if (!payload) {
        waiter->settle(wire::status::bad_stub_data);
    } else if (!send(wire::make_frame(wire::FrameKind::Callback, opnum, call_id, *payload))) {
        waiter->settle(wire::status::call_failed);
    }
    const auto status = waiter->wait();
    std::lock_guard lock(callbacks_mutex_);
    waiting_callbacks_.erase(sequence);
    return status;
}

void Connection::end_callbacks() {
    std::vector<std::shared_ptr<CallbackWaiter>> waiting;
    {
        std::lock_guard lock(callbacks_mutex_);
        gone_ = true;
        for (const auto& [sequence, waiter] : waiting_callbacks_) waiting.push_back(waiter);
    }
    for (const auto& waiter : waiting) waiter->settle(wire::status::call_failed);
}

void Connection::send_result(std::uint32_t call_id, std::uint8_t opnum,
                             std::span<const std::uint8_t> payload) {
    send(wire::make_frame(wire::FrameKind::Result, opnum, call_id, payload));
}

void Connection::send_fault(std::uint32_t call_id, std::uint8_t opnum, wire::RpcStatus status) {
    send(wire::make_frame(wire::FrameKind::Fault, opnum, call_id,
                          *wire::encode(wire::Fault{status})));
}

// A failed write means the client is gone; the reader then sees the end too.
bool Connection::send(const std::vector<std::uint8_t>& frame) {
    std::lock_guard lock(write_mutex_);
    if (wire::write_all(socket_.get(), frame))
        return true;
    hang_up();
    return false;
}

}  // namespace norvo::transport
