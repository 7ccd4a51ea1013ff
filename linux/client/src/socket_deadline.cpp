#include "socket_deadline.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "norvo/posix/unix_socket.hpp"

namespace norvo::client {

std::expected<posix::UniqueFd, wire::RpcStatus> connect_by(const std::filesystem::path& path,
                                                           wire::Deadline deadline) {
    const auto address = posix::UnixAddress::of(path);
    if (!address)
        return std::unexpected(wire::status::invalid_endpoint_format);
    auto socket = posix::unix_stream_socket();
    if (!socket)
        return std::unexpected(wire::status::out_of_resources);
    // A Unix socket's connect waits for room in the listener's backlog for as
    // long as SO_SNDTIMEO allows, then fails with EAGAIN.
    for (;;) {
        const auto ms = wire::remaining_ms(deadline);
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

std::expected<void, wire::ReadFailure> write_by(int fd, std::span<const std::uint8_t> bytes,
                                                Clock::time_point deadline) {
    while (!bytes.empty()) {
        const auto n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (auto ready = wire::wait_ready(fd, POLLOUT, deadline); !ready)
                return ready;
        } else if (n == 0 || errno != EINTR) {
            return std::unexpected(wire::ReadFailure::Closed);
        }
    }
    return {};
}

bool quiet(int fd) {
    pollfd watched{.fd = fd, .events = POLLIN, .revents = 0};
    return ::poll(&watched, 1, 0) == 0;
}

}  // namespace norvo::client
