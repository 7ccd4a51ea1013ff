#include "norvo/linux_host/notify_status.hpp"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace norvo::linux_host {
namespace {

std::expected<void, host::HostError> send_datagram(const std::string& socket,
                                                   const std::string& message) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket.empty() || socket.size() >= sizeof(address.sun_path))
        return std::unexpected(host::platform_call_error("NOTIFY_SOCKET is not a socket address"));
    std::memcpy(address.sun_path, socket.data(), socket.size());
    if (socket.front() == '@')
        address.sun_path[0] = '\0';  // abstract namespace
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket.size());

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::unexpected(host::platform_call_error(std::strerror(errno)));
    ssize_t sent;
    do {
        sent = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), length);
    } while (sent < 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (sent < 0)
        return std::unexpected(host::platform_call_error(std::strerror(error)));
    return {};
}

}  // namespace

std::string notify_message(const host::ServiceStatus& status, bool first_running) {
    if (status.current_state == host::kStatusRunning.current_state)
        return first_running ? "READY=1\nSTATUS=Running" : "STATUS=Running";
    if (status.current_state == host::kStatusStopped.current_state)
        return "STOPPING=1";
    return "STATUS=Paused";
}

std::expected<void, host::HostError> NotifyStatusReporter::set_status(
    const host::ServiceStatus& status) {
    if (!socket_)
        return {};
    const bool first_running =
        status.current_state == host::kStatusRunning.current_state && !ready_sent_;
    if (auto sent = send_datagram(*socket_, notify_message(status, first_running)); !sent)
        return std::unexpected(std::move(sent.error()).context("Failed to set service status"));
    ready_sent_ = ready_sent_ || first_running;
    return {};
}

}  // namespace norvo::linux_host
