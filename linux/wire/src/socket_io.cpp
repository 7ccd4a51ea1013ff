#include "norvo/wire/socket_io.hpp"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace norvo::wire {
namespace {

constexpr std::size_t kReadChunk = 16 * 1024;

// The buffer grows only as bytes arrive: a length alone costs the reader nothing.
bool read_body(int fd, std::vector<std::uint8_t>& body, std::size_t length) {
    while (body.size() < length) {
        const auto filled = body.size();
        body.resize(filled + std::min(length - filled, kReadChunk));
        if (!read_exact(fd, std::span(body).subspan(filled)))
            return false;
    }
    return true;
}

std::expected<ReceivedFrame, ReadFailure> to_frame(std::span<const std::uint8_t> body) {
    const auto view = parse_frame(body);
    if (!view)
        return std::unexpected(ReadFailure::Malformed);
    return ReceivedFrame{view->header, {view->payload.begin(), view->payload.end()}};
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
    std::vector<std::uint8_t> body;
    if (!read_body(fd, body, *length))
        return std::unexpected(ReadFailure::Closed);
    return to_frame(body);
}

std::expected<ReceivedFrame, ReadFailure> FrameReader::next() {
    if (!hold(kLengthSize))
        return std::unexpected(ReadFailure::Closed);
    const auto length = frame_length(take(kLengthSize).first<kLengthSize>());
    if (!length)
        return std::unexpected(ReadFailure::Oversized);
    if (*length <= buffer_.size()) {
        if (!hold(*length))
            return std::unexpected(ReadFailure::Closed);
        return to_frame(take(*length));
    }
    // Too big to hold: what is held starts the body, the rest is read as it comes.
    const auto held = take(end_ - begin_);
    std::vector<std::uint8_t> body(held.begin(), held.end());
    if (!read_body(fd_, body, *length))
        return std::unexpected(ReadFailure::Closed);
    return to_frame(body);
}

bool FrameReader::hold(std::size_t count) {
    if (buffer_.size() - begin_ < count) {
        std::copy(buffer_.begin() + begin_, buffer_.begin() + end_, buffer_.begin());
        end_ -= begin_;
        begin_ = 0;
    }
    while (end_ - begin_ < count) {
        const auto n = ::recv(fd_, buffer_.data() + end_, buffer_.size() - end_, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        end_ += static_cast<std::size_t>(n);
    }
    return true;
}

std::span<const std::uint8_t> FrameReader::take(std::size_t count) {
    const std::span<const std::uint8_t> bytes(buffer_.data() + begin_, count);
    begin_ += count;
    if (begin_ == end_)
        begin_ = end_ = 0;
    return bytes;
}

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
