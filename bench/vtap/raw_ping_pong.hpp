#pragma once
// The peers the transport is measured against, each a child process at the other end of
// a Unix stream socket pair: the raw one answers every message of `in` bytes with `out`
// bytes.

#include <sys/types.h>

#include <cstddef>
#include <expected>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "norvo/posix/unique_fd.hpp"

namespace norvo::bench {

// A forked child serving its end of a socket pair until this end hangs up.
class PeerProcess {
  public:
    // Forks the child, which runs `serve` on its end and exits; call it before the bench
    // starts threads of its own.
    [[nodiscard]] static std::expected<PeerProcess, std::string> fork(
        const std::function<void(int)>& serve);
    PeerProcess(PeerProcess&& other) noexcept;
    PeerProcess& operator=(PeerProcess&&) = delete;
    // Hangs up, which ends the child, and reaps it.
    ~PeerProcess();

    int socket() const { return socket_.get(); }

  private:
    PeerProcess(posix::UniqueFd socket, pid_t pid);

    posix::UniqueFd socket_;
    pid_t pid_;
};

class RawPeer {
  public:
    [[nodiscard]] static std::expected<RawPeer, std::string> fork(std::size_t in, std::size_t out);

    // One ping-pong; false when the peer is gone.
    bool exchange();

  private:
    RawPeer(PeerProcess peer, std::size_t in, std::size_t out);

    PeerProcess peer_;
    std::vector<std::uint8_t> ping_;
    std::vector<std::uint8_t> pong_;
};

}  // namespace norvo::bench
