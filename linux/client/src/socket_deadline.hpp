#pragma once
// Socket I/O that gives up at a deadline, so a service that stops answering
// costs the caller a bounded wait. Waiting is poll() on the one socket; frames are
// read with wire::FrameReader's deadline.

#include <chrono>
#include <expected>
#include <filesystem>
#include <span>

#include "norvo/posix/unique_fd.hpp"
#include "norvo/wire/socket_io.hpp"
#include "norvo/wire/status.hpp"

namespace norvo::client {

using Clock = std::chrono::steady_clock;

// Connected, or server_unavailable when the service took no connection by the
// deadline (its backlog stayed full).
[[nodiscard]] std::expected<posix::UniqueFd, wire::RpcStatus> connect_by(
    const std::filesystem::path& path, wire::Deadline deadline);

// Closed or TimedOut, as a read's. Every write has a deadline.
[[nodiscard]] std::expected<void, wire::ReadFailure> write_by(int fd,
                                                              std::span<const std::uint8_t> bytes,
                                                              Clock::time_point deadline);

// Whether an idle socket is still usable: nothing may arrive on it between
// calls, so anything readable is the service's hang-up.
[[nodiscard]] bool quiet(int fd);

}  // namespace norvo::client
