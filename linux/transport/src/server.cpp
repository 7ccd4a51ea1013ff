#include "norvo/transport/server.hpp"

#include "reactor.hpp"
#include "server_state.hpp"

namespace norvo::transport {

Server::Server(AccessPolicy policy, Limits limits)
    : state_(std::make_unique<ServerState>(policy, limits)) {}

// The reactor ends every connection and hands their rundowns to the workers,
// which finish them and the sensor runs they end, then join.
Server::~Server() {
    reactor_.reset();
    state_.reset();
}

bool Server::accept_on(int listening_socket) {
    reactor_ = Reactor::start(*state_, listening_socket);
    return reactor_ != nullptr;
}

void Server::stop_accepting() {
    if (reactor_)
        reactor_->stop_accepting();
}

void Server::unregister_interface() {
    state_->interface_registered = false;
}

}  // namespace norvo::transport
