#include "raw_ping_pong.hpp"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace norvo::bench {
namespace {

[[noreturn]] void echo(int fd, std::size_t in, std::size_t out) {
    std::vector<std::uint8_t> ping(in), pong(out);
    while (wire::read_exact(fd, ping) && wire::write_all(fd, pong)) {
    }
    ::_exit(0);
}

}  // namespace

std::expected<RawPeer, std::string> RawPeer::fork(std::size_t in, std::size_t out) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return std::unexpected(std::string("socketpair: ") + std::strerror(errno));
    wire::FileDescriptor mine(pair[0]), theirs(pair[1]);
    const pid_t pid = ::fork();
    if (pid < 0)
        return std::unexpected(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        mine = {};
        echo(theirs.get(), in, out);
    }
    return RawPeer(std::move(mine), pid, in, out);
}

RawPeer::RawPeer(wire::FileDescriptor socket, pid_t pid, std::size_t in, std::size_t out)
    : socket_(std::move(socket)), pid_(pid), ping_(in), pong_(out) {}

RawPeer::RawPeer(RawPeer&& other) noexcept
    : socket_(std::move(other.socket_)),
      pid_(std::exchange(other.pid_, -1)),
      ping_(std::move(other.ping_)),
      pong_(std::move(other.pong_)) {}

RawPeer::~RawPeer() {
    socket_ = {};
    if (pid_ > 0) {
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

bool RawPeer::exchange() {
    return wire::write_all(socket_.get(), ping_) && wire::read_exact(socket_.get(), pong_);
}

}  // namespace norvo::bench
