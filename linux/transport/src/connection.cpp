#include "connection.hpp"

#include <sys/epoll.h>
#include <sys/socket.h>

#include <cerrno>
#include <condition_variable>
#include <optional>

#include "call_dispatch.hpp"
#include "norvo/log.hpp"
#include "norvo/service/procedures.hpp"
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

Connection::Connection(posix::UniqueFd socket, std::shared_ptr<Association> association,
                       service::UserQuota::Permit permit, ServerState& server, int epoll,
                       std::uint64_t key)
    : association_(std::move(association)),
      server_(server),
      epoll_(epoll),
      key_(key),
      permit_(std::move(permit)),
      socket_(std::move(socket)) {}

Connection::~Connection() = default;

bool Connection::greet() {
    {
        std::lock_guard lock(write_mutex_);
        epoll_event event{.events = EPOLLIN, .data = {.u64 = key_}};
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, socket_.get(), &event) != 0)
            return false;
        watched_ = EPOLLIN;
    }
    return send_hello({.association = association_->key()});
}

bool Connection::on_readable() {
    const auto room = incoming_.space();
    const auto n = ::recv(socket_.get(), room.data(), room.size(), MSG_DONTWAIT);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (n == 0)
        return false;
    incoming_.commit(static_cast<std::size_t>(n));
    return serve_frames();
}

bool Connection::on_writable() {
    {
        std::lock_guard lock(write_mutex_);
        std::span<const std::uint8_t> held(outgoing_.data() + outgoing_begin_,
                                           outgoing_.size() - outgoing_begin_);
        if (!write_now(held))
            return false;
        outgoing_begin_ = outgoing_.size() - held.size();
        if (held.empty()) {
            outgoing_ = {};
            outgoing_begin_ = 0;
        }
        watch_locked();
        if (!held.empty())
            return true;
    }
    // Frames that came while the replies waited are served now.
    return serve_frames();
}

bool Connection::serve_frames() {
    while (!replies_waiting()) {
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
    {
        std::lock_guard lock(write_mutex_);
        ::epoll_ctl(epoll_, EPOLL_CTL_DEL, socket_.get(), nullptr);
        socket_ = {};
        outgoing_ = {};
        outgoing_begin_ = 0;
    }
    // A context that is closing has its run stopped by the close: lines of its client's.
    const log::CallerScope caller(log_caller());
    for (const auto& token : end_callbacks(/*stop_runs=*/!last)) {
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

std::uint64_t Connection::begin_run(const wire::ContextToken& context) {
    std::lock_guard lock(callbacks_mutex_);
    runs_.emplace(++next_run_, Run{.context = context});
    return next_run_;
}

void Connection::end_run(std::uint64_t run) {
    std::lock_guard lock(callbacks_mutex_);
    runs_.erase(run);
}

bool Connection::must_stop_itself(std::uint64_t run) {
    std::lock_guard lock(callbacks_mutex_);
    const auto found = runs_.find(run);
    if (!gone_ || found == runs_.end() || found->second.state == RunState::Stopped)
        return false;
    found->second.state = RunState::Stopped;
    return true;
}

void Connection::hang_up() {
    std::lock_guard lock(write_mutex_);
    hang_up_locked();
}

void Connection::hang_up_locked() {
    if (socket_.valid() && !hung_up_)
        ::shutdown(socket_.get(), SHUT_RDWR);
    hung_up_ = true;
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
        return hang_up();
    }
    // The association it was given on admission has never been used.
    (void)server_.associations.leave(*association_);
    association_ = std::move(joined);
    send_hello({.association = association_->key()});
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

wire::RpcStatus Connection::callback(std::uint32_t call_id, std::uint64_t run,
                                     wire::Callback callback) {
    const auto opnum = wire::opnum_of(callback);
    auto waiter = std::make_shared<CallbackWaiter>();
    std::uint32_t sequence = 0;
    {
        std::lock_guard lock(callbacks_mutex_);
        if (gone_)
            return wire::status::call_failed;
        if (auto found = runs_.find(run);
            found != runs_.end() && found->second.state == RunState::Starting) {
            found->second.state = RunState::Looping;
        }
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

std::vector<wire::ContextToken> Connection::end_callbacks(bool stop_runs) {
    std::vector<std::shared_ptr<CallbackWaiter>> waiting;
    std::vector<wire::ContextToken> looping;
    {
        std::lock_guard lock(callbacks_mutex_);
        gone_ = true;
        for (const auto& [sequence, waiter] : waiting_callbacks_) waiting.push_back(waiter);
        for (auto& [key, run] : runs_) {
            if (run.state == RunState::Looping && stop_runs)
                looping.push_back(run.context);
            // Left to the rundown, which waits for the lease a starting run holds.
            if (run.state == RunState::Looping || !stop_runs)
                run.state = RunState::Stopped;
        }
    }
    for (const auto& waiter : waiting) waiter->settle(wire::status::call_failed);
    return looping;
}

void Connection::send_result(std::uint32_t call_id, std::uint8_t opnum,
                             std::span<const std::uint8_t> payload) {
    send(wire::make_frame(wire::FrameKind::Result, opnum, call_id, payload));
}

void Connection::send_fault(std::uint32_t call_id, std::uint8_t opnum, wire::RpcStatus status) {
    send(wire::make_frame(wire::FrameKind::Fault, opnum, call_id,
                          *wire::encode(wire::Fault{status})));
}

bool Connection::send(std::span<const std::uint8_t> frame) {
    std::lock_guard lock(write_mutex_);
    if (!socket_.valid() || hung_up_)
        return false;
    const bool queue_empty = outgoing_begin_ == outgoing_.size();
    if (queue_empty && !write_now(frame))
        return false;
    if (frame.empty())
        return true;
    if (outgoing_.size() - outgoing_begin_ + frame.size() > server_.limits.outgoing_bytes) {
        hang_up_locked();
        return false;
    }
    outgoing_.insert(outgoing_.end(), frame.begin(), frame.end());
    watch_locked();
    return true;
}

bool Connection::send_hello(const wire::Hello& hello) {
    return send(wire::make_frame(wire::FrameKind::Hello, 0, 0, *wire::encode(hello)));
}

bool Connection::replies_waiting() {
    std::lock_guard lock(write_mutex_);
    return outgoing_begin_ != outgoing_.size();
}

// A failed write means the client is gone; the reactor then sees the end too.
bool Connection::write_now(std::span<const std::uint8_t>& bytes) {
    while (!bytes.empty()) {
        const auto n =
            ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (n <= 0) {
            hang_up_locked();
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

void Connection::watch_locked() {
    const std::uint32_t wanted = outgoing_begin_ == outgoing_.size() ? EPOLLIN : EPOLLOUT;
    if (wanted == watched_ || !socket_.valid())
        return;
    epoll_event event{.events = wanted, .data = {.u64 = key_}};
    if (::epoll_ctl(epoll_, EPOLL_CTL_MOD, socket_.get(), &event) == 0)
        watched_ = wanted;
}

}  // namespace norvo::transport
