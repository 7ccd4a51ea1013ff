#include "socket_deadline.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "norvo/posix/unix_socket.hpp"

namespace norvo::client {
namespace {

// Milliseconds poll() may wait: -1 for no deadline, 0 once it has passed.
int remaining_ms(Deadline deadline) {
    if (!deadline)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

// Until `fd` is ready for `events`, the peer hung up, or the deadline passed.
std::expected<void, IoFailure> wait_for(int fd, short events, Deadline deadline) {
    for (;;) {
        pollfd watched{.fd = fd, .events = events, .revents = 0};
        const int ready = ::poll(&watched, 1, remaining_ms(deadline));
        if (ready > 0)
            return {};
        if (ready == 0)
            return std::unexpected(IoFailure::TimedOut);
        if (errno != EINTR)
            return std::unexpected(IoFailure::Closed);
    }
}

}  // namespace

std::expected<posix::UniqueFd, wire::RpcStatus> connect_by(const std::filesystem::path& path,
                                                           Deadline deadline) {
    const auto address = posix::UnixAddress::of(path);
    if (!address)
        return std::unexpected(wire::status::invalid_endpoint_format);
    auto socket = posix::unix_stream_socket();
    if (!socket)
        return std::unexpected(wire::status::out_of_resources);
    // A Unix socket's connect waits for room in the listener's backlog for as
    // long as SO_SNDTIMEO allows, then fails with EAGAIN.
    for (;;) {
        const auto ms = remaining_ms(deadline);
        const timeval patience{.tv_sec = ms < 0 ? 0 : ms / 1000,
                               .tv_usec = ms < 0 ? 0 : (ms % 1000) * 1000};
        if (ms == 0)
            return std::unexpected(wire::status::server_unavailable);
        ::setsockopt(socket->get(), SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
        if (::connect(socket->get(), address->get(), address->size()) == 0)
            return std::move(*socket);
        if (errno == EINTR)
            continue;
        return std::unexpected(errno == EACCES ? wire::status::access_denied
                                               : wire::status::server_unavailable);
    }
}

std::expected<void, IoFailure> write_by(int fd, std::span<const std::uint8_t> bytes,
                                        Deadline deadline) {
    while (!bytes.empty()) {
        const auto n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (auto ready = wait_for(fd, POLLOUT, deadline); !ready)
                return ready;
        } else if (n == 0 || errno != EINTR) {
            return std::unexpected(IoFailure::Closed);
        }
    }
    return {};
}

bool quiet(int fd) {
    pollfd watched{.fd = fd, .events = POLLIN, .revents = 0};
    return ::poll(&watched, 1, 0) == 0;
}

std::expected<wire::ReceivedFrame, IoFailure> DeadlineReader::next(Deadline deadline) {
    for (;;) {
        if (auto frame = assembler_.next()) {
            if (*frame)
                return std::move(**frame);
            return std::unexpected(frame->error() == wire::ReadFailure::Malformed
                                       ? IoFailure::Malformed
                                       : IoFailure::Closed);
        }
        if (auto ready = wait_for(fd_, POLLIN, deadline); !ready)
            return std::unexpected(ready.error());
        const auto room = assembler_.space();
        const auto n = ::recv(fd_, room.data(), room.size(), MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return std::unexpected(IoFailure::Closed);
        assembler_.commit(static_cast<std::size_t>(n));
    }
}

}  // namespace norvo::client
