#include "norvo/wire/socket_io.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace norvo::wire {
namespace {

constexpr std::size_t kReadChunk = 16 * 1024;

bool read_exact(int fd, std::span<std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const auto n = ::recv(fd, bytes.data(), bytes.size(), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        FileDescriptor old(fd_);
        fd_ = other.release();
    }
    return *this;
}

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0)
        ::close(fd_);
}

int FileDescriptor::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

std::expected<ReceivedFrame, ReadFailure> read_frame(int fd) {
    std::uint8_t field[kLengthSize];
    if (!read_exact(fd, field))
        return std::unexpected(ReadFailure::Closed);
    const auto length = frame_length(field);
    if (!length)
        return std::unexpected(ReadFailure::Oversized);
    // The buffer grows only as bytes arrive: a length alone costs the reader nothing.
    std::vector<std::uint8_t> body;
    while (body.size() < *length) {
        const auto filled = body.size();
        body.resize(filled + std::min(*length - filled, kReadChunk));
        if (!read_exact(fd, std::span(body).subspan(filled)))
            return std::unexpected(ReadFailure::Closed);
    }
    const auto view = parse_frame(body);
    if (!view)
        return std::unexpected(ReadFailure::Malformed);
    return ReceivedFrame{view->header, {view->payload.begin(), view->payload.end()}};
}

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const auto n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace norvo::wire
