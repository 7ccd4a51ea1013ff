#include "socket_writer.hpp"

#include <sys/epoll.h>
#include <sys/socket.h>

#include <cerrno>

namespace norvo::transport {

SocketWriter::SocketWriter(posix::UniqueFd socket, int epoll, std::uint64_t key, std::size_t bound)
    : fd_(socket.get()), epoll_(epoll), key_(key), bound_(bound), socket_(std::move(socket)) {}

bool SocketWriter::watch() {
    MutexLock lock(mutex_);
    epoll_event event{.events = EPOLLIN, .data = {.u64 = key_}};
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, socket_.get(), &event) != 0)
        return false;
    watched_ = EPOLLIN;
    return true;
}

bool SocketWriter::flush() {
    MutexLock lock(mutex_);
    std::span<const std::uint8_t> held(outgoing_.data() + outgoing_begin_,
                                       outgoing_.size() - outgoing_begin_);
    if (!write_now(held))
        return false;
    outgoing_begin_ = outgoing_.size() - held.size();
    if (held.empty()) {
        outgoing_ = {};
        outgoing_begin_ = 0;
    }
    watch_for_what_waits();
    return true;
}

void SocketWriter::close() {
    MutexLock lock(mutex_);
    ::epoll_ctl(epoll_, EPOLL_CTL_DEL, socket_.get(), nullptr);
    socket_ = {};
    outgoing_ = {};
    outgoing_begin_ = 0;
}

bool SocketWriter::client_left() {
    MutexLock lock(mutex_);
    writes_ended_ = true;
    outgoing_ = {};
    outgoing_begin_ = 0;
    return !hung_up_;
}

bool SocketWriter::send(std::span<const std::uint8_t> frame) {
    MutexLock lock(mutex_);
    if (!socket_.valid() || writes_ended_)
        return false;
    const bool queue_empty = outgoing_begin_ == outgoing_.size();
    if (queue_empty && !write_now(frame))
        return false;
    if (frame.empty())
        return true;
    if (outgoing_.size() - outgoing_begin_ + frame.size() > bound_) {
        hung_up_ = true;
        end_writes();
        return false;
    }
    outgoing_.insert(outgoing_.end(), frame.begin(), frame.end());
    watch_for_what_waits();
    return true;
}

bool SocketWriter::waiting() {
    MutexLock lock(mutex_);
    return outgoing_begin_ != outgoing_.size();
}

void SocketWriter::hang_up() {
    MutexLock lock(mutex_);
    hung_up_ = true;
    end_writes();
}

// A failed write means the client is gone; the reactor then sees the end too.
bool SocketWriter::write_now(std::span<const std::uint8_t>& bytes) {
    while (!bytes.empty()) {
        const auto n =
            ::send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        if (n <= 0) {
            end_writes();
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

void SocketWriter::end_writes() {
    if (socket_.valid() && !writes_ended_)
        ::shutdown(socket_.get(), SHUT_RDWR);
    writes_ended_ = true;
}

void SocketWriter::watch_for_what_waits() {
    const std::uint32_t wanted = outgoing_begin_ == outgoing_.size() ? EPOLLIN : EPOLLOUT;
    if (wanted == watched_ || !socket_.valid())
        return;
    epoll_event event{.events = wanted, .data = {.u64 = key_}};
    if (::epoll_ctl(epoll_, EPOLL_CTL_MOD, socket_.get(), &event) == 0)
        watched_ = wanted;
}

}  // namespace norvo::transport
