#include "norvo/linux_host/notify_status.hpp"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "norvo/posix/unix_socket.hpp"

namespace norvo::linux_host {
namespace {

[[nodiscard]] std::expected<void, host::HostError> send_datagram(const std::string& socket,
                                                                 const std::string& message) {
    const auto address = posix::UnixAddress::of(socket);
    if (!address)
        return std::unexpected(host::platform_call_error("NOTIFY_SOCKET is not a socket address"));
    const posix::UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid())
        return std::unexpected(host::platform_call_error(std::strerror(errno)));
    ssize_t sent;
    do {
        sent = ::sendto(fd.get(), message.data(), message.size(), MSG_NOSIGNAL, address->get(),
                        address->size());
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return std::unexpected(host::platform_call_error(std::strerror(errno)));
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
