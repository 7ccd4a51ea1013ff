#include "raw_ping_pong.hpp"

#include "norvo/wire/socket_io.hpp"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace norvo::bench {

std::expected<PeerProcess, std::string> PeerProcess::fork(const std::function<void(int)>& serve) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return std::unexpected(std::string("socketpair: ") + std::strerror(errno));
    posix::UniqueFd mine(pair[0]), theirs(pair[1]);
    const pid_t pid = ::fork();
    if (pid < 0)
        return std::unexpected(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        mine = {};
        serve(theirs.get());
        ::_exit(0);
    }
    return PeerProcess(std::move(mine), pid);
}

PeerProcess::PeerProcess(posix::UniqueFd socket, pid_t pid)
    : socket_(std::move(socket)), pid_(pid) {}

PeerProcess::PeerProcess(PeerProcess&& other) noexcept
    : socket_(std::move(other.socket_)), pid_(std::exchange(other.pid_, -1)) {}

PeerProcess::~PeerProcess() {
    socket_ = {};
    if (pid_ > 0) {
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

std::expected<RawPeer, std::string> RawPeer::fork(std::size_t in, std::size_t out) {
    auto peer = PeerProcess::fork([in, out](int fd) {
        std::vector<std::uint8_t> ping(in), pong(out);
        while (wire::read_exact(fd, ping) && wire::write_all(fd, pong)) {
        }
    });
    if (!peer)
        return std::unexpected(peer.error());
    return RawPeer(std::move(*peer), in, out);
}

RawPeer::RawPeer(PeerProcess peer, std::size_t in, std::size_t out)
    : peer_(std::move(peer)), ping_(in), pong_(out) {}

bool RawPeer::exchange() {
    return wire::write_all(peer_.socket(), ping_) && wire::read_exact(peer_.socket(), pong_);
}

}  // namespace norvo::bench
