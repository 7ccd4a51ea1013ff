#include "norvo/wire/socket_io.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

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

[[nodiscard]] std::expected<ReceivedFrame, ReadFailure> to_frame(
    std::span<const std::uint8_t> body) {
    const auto view = parse_frame(body);
    if (!view)
        return std::unexpected(ReadFailure::Malformed);
    return ReceivedFrame{view->header, {view->payload.begin(), view->payload.end()}};
}

}  // namespace

int remaining_ms(Deadline deadline) {
    if (!deadline)
        return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

std::expected<void, ReadFailure> wait_ready(int fd, short events, Deadline deadline) {
    for (;;) {
        pollfd watched{.fd = fd, .events = events, .revents = 0};
        const int ready = ::poll(&watched, 1, remaining_ms(deadline));
        if (ready > 0)
            return {};
        if (ready == 0)
            return std::unexpected(ReadFailure::TimedOut);
        if (errno != EINTR)
            return std::unexpected(ReadFailure::Closed);
    }
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

std::span<std::uint8_t> FrameAssembler::space() {
    if (begin_ == end_) {
        begin_ = end_ = 0;
        if (buffer_.size() > kReadAhead)
            buffer_ = std::vector<std::uint8_t>(kReadAhead);
    } else if (begin_ > 0) {
        std::copy(buffer_.begin() + begin_, buffer_.begin() + end_, buffer_.begin());
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) {
        const auto wanted = std::max(wanted_, end_ + 1);
        buffer_.resize(std::min(wanted, buffer_.size() + kReadChunk));
    }
    return std::span(buffer_).subspan(end_);
}

std::optional<std::expected<ReceivedFrame, ReadFailure>> FrameAssembler::next() {
    wanted_ = kReadAhead;
    if (end_ - begin_ < kLengthSize)
        return std::nullopt;
    const auto length = frame_length(
        std::span<const std::uint8_t, kLengthSize>(buffer_.data() + begin_, kLengthSize));
    if (!length)
        return std::unexpected(ReadFailure::Oversized);
    if (end_ - begin_ < kLengthSize + *length) {
        wanted_ = kLengthSize + *length;
        return std::nullopt;
    }
    const auto body = std::span<const std::uint8_t>(buffer_).subspan(begin_ + kLengthSize, *length);
    begin_ += kLengthSize + *length;
    return to_frame(body);
}

std::expected<ReceivedFrame, ReadFailure> FrameReader::next(Deadline deadline) {
    for (;;) {
        if (auto frame = assembler_.next())
            return std::move(*frame);
        if (deadline) {
            if (auto ready = wait_ready(fd_, POLLIN, deadline); !ready)
                return std::unexpected(ready.error());
        }
        const auto room = assembler_.space();
        const auto n = ::recv(fd_, room.data(), room.size(), deadline ? MSG_DONTWAIT : 0);
        if (n < 0 && (errno == EINTR || (deadline && errno == EAGAIN)))
            continue;
        if (n <= 0)
            return std::unexpected(ReadFailure::Closed);
        assembler_.commit(static_cast<std::size_t>(n));
    }
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
