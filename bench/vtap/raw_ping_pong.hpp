#pragma once
// The peer the transport is measured against: a child process that answers every
// message of `in` bytes with `out` bytes over a plain Unix stream socket.

#include <sys/types.h>

#include <cstddef>
#include <expected>
#include <string>
#include <utility>
#include <vector>

#include "norvo/wire/socket_io.hpp"

namespace norvo::bench {

class RawPeer {
  public:
    // Forks the peer; call it before the bench starts threads of its own.
    static std::expected<RawPeer, std::string> fork(std::size_t in, std::size_t out);
    RawPeer(RawPeer&& other) noexcept;
    RawPeer& operator=(RawPeer&&) = delete;
    // Hangs up, which ends the peer, and reaps it.
    ~RawPeer();

    // One ping-pong; false when the peer is gone.
    bool exchange();

  private:
    RawPeer(wire::FileDescriptor socket, pid_t pid, std::size_t in, std::size_t out);

    wire::FileDescriptor socket_;
    pid_t pid_;
    std::vector<std::uint8_t> ping_;
    std::vector<std::uint8_t> pong_;
};

}  // namespace norvo::bench
