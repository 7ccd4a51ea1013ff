#pragma once
// Socket I/O that gives up at a deadline, so a service that stops answering
// costs the caller a bounded wait. Waiting is poll() on the one socket.

#include <chrono>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>

#include "norvo/posix/unique_fd.hpp"
#include "norvo/wire/socket_io.hpp"
#include "norvo/wire/status.hpp"

namespace norvo::client {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>;  // none: wait as long as it takes

enum class IoFailure {
    Closed,     // the peer is gone, or the stream cannot be followed
    TimedOut,   // the deadline passed first
    Malformed,  // one frame with a bad header; the next can be read
};

// Connected, or server_unavailable when the service took no connection by the
// deadline (its backlog stayed full).
[[nodiscard]] std::expected<posix::UniqueFd, wire::RpcStatus> connect_by(
    const std::filesystem::path& path, Deadline deadline);

[[nodiscard]] std::expected<void, IoFailure> write_by(int fd, std::span<const std::uint8_t> bytes,
                                                      Deadline deadline);

// Whether an idle socket is still usable: nothing may arrive on it between
// calls, so anything readable is the service's hang-up.
[[nodiscard]] bool quiet(int fd);

// The frames of one socket, each waited for until a deadline.
class DeadlineReader {
  public:
    explicit DeadlineReader(int fd) : fd_(fd) {}
    [[nodiscard]] std::expected<wire::ReceivedFrame, IoFailure> next(Deadline deadline);

  private:
    int fd_;
    wire::FrameAssembler assembler_;
};

}  // namespace norvo::client
