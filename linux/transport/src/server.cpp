#include "norvo/transport/server.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "connection.hpp"
#include "server_state.hpp"

namespace norvo::transport {
namespace {

void turn_away(const wire::FileDescriptor& socket, wire::RpcStatus status) {
    const auto hello = wire::encode(wire::Hello{.status = status});
    // A fresh socket's buffer takes these few bytes without blocking.
    wire::write_all(socket.get(), wire::make_frame(wire::FrameKind::Hello, 0, 0, *hello));
}

std::optional<uid_t> peer_uid(int socket) {
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return std::nullopt;
    return credentials.uid;
}

}  // namespace

// Waits on the listening socket and an eventfd, so stopping never waits for a client.
class Server::Acceptor {
  public:
    Acceptor(ServerState& state, int listening_socket)
        : state_(state),
          listening_(listening_socket),
          wake_(::eventfd(0, EFD_CLOEXEC)),
          spare_(::open("/dev/null", O_RDONLY | O_CLOEXEC)) {}

    ~Acceptor() {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake_.get(), &one, sizeof(one));
        if (thread_.joinable())
            thread_.join();
    }

    bool start() {
        if (!wake_.valid())
            return false;
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

  private:
    void run() {
        for (;;) {
            pollfd fds[] = {{wake_.get(), POLLIN, 0}, {listening_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[0].revents != 0)
                return;
            if (fds[1].revents != 0)
                accept_one();
        }
    }

    void accept_one() {
        wire::FileDescriptor socket(::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC));
        if (!socket.valid()) {
            if (errno == EMFILE || errno == ENFILE)
                turn_away_without_descriptors();
            return;
        }
        const auto uid = peer_uid(socket.get());
        if (!uid || !state_.policy.admits(*uid)) {
            return turn_away(socket, wire::status::access_denied);
        }
        if (!state_.connections.has_room(state_.limits.connections)) {
            return turn_away(socket, wire::status::server_too_busy);
        }
        auto connection = std::make_shared<Connection>(std::move(socket), state_);
        state_.connections.add(connection);
        if (!state_.workers.submit([connection] { connection->serve(); })) {
            state_.connections.remove(connection.get());
        }
    }

    // The queued client would make poll return at once for ever: give up the
    // spare descriptor to take it off the queue and tell it.
    void turn_away_without_descriptors() {
        spare_ = {};
        wire::FileDescriptor socket(::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC));
        if (socket.valid())
            turn_away(socket, wire::status::out_of_resources);
        socket = {};
        spare_ = wire::FileDescriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }

    ServerState& state_;
    const int listening_;
    wire::FileDescriptor wake_;
    wire::FileDescriptor spare_;
    std::thread thread_;
};

Server::Server(AccessPolicy policy, Limits limits)
    : state_(std::make_unique<ServerState>(policy, limits)) {}

Server::~Server() {
    stop_accepting();
    for (const auto& connection : state_->connections.all()) connection->hang_up();
    // The worker threads finish the rundowns and the sensor runs those end, then join.
    state_.reset();
}

bool Server::accept_on(int listening_socket) {
    auto acceptor = std::make_unique<Acceptor>(*state_, listening_socket);
    if (!acceptor->start())
        return false;
    acceptor_ = std::move(acceptor);
    return true;
}

void Server::stop_accepting() {
    acceptor_.reset();
}

void Server::unregister_interface() {
    state_->interface_registered = false;
}

}  // namespace norvo::transport
