#include "norvo/posix/unix_socket.hpp"

#include <fmt/std.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace norvo::posix {

std::expected<UnixAddress, PosixError> UnixAddress::of(const std::filesystem::path& path) {
    UnixAddress out;
    out.address_.sun_family = AF_UNIX;
    const auto& text = path.native();
    if (text.empty() || text.size() >= sizeof out.address_.sun_path) {
        return std::unexpected(
            PosixError{fmt::format("unusable socket path: {}", text), ENAMETOOLONG});
    }
    std::memcpy(out.address_.sun_path, text.c_str(), text.size() + 1);
    if (text.front() == '@') {
        out.address_.sun_path[0] = '\0';
        out.size_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + text.size());
    }
    return out;
}

std::expected<UniqueFd, PosixError> unix_stream_socket() {
    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.valid())
        return std::unexpected(last_error("cannot create a Unix socket"));
    return socket;
}

std::expected<UniqueFd, PosixError> connect_unix(const std::filesystem::path& path) {
    auto address = UnixAddress::of(path);
    if (!address)
        return std::unexpected(address.error());
    auto socket = unix_stream_socket();
    if (!socket)
        return socket;
    if (::connect(socket->get(), address->get(), address->size()) != 0)
        return std::unexpected(last_error(fmt::format("cannot connect to {}", path.native())));
    return socket;
}

}  // namespace norvo::posix
