#pragma once
// The local transport's runtime: admits clients by their peer credentials,
// serves the interface's procedures on its own threads, carries callbacks into
// outstanding NorvoStartSensor calls, and runs down the contexts of clients
// that go away. The RpcServer drives it through the steps of its lifecycle.

#include <memory>

#include "norvo/transport/access_policy.hpp"
#include "norvo/transport/limits.hpp"

namespace norvo::transport {

struct ServerState;
class Reactor;

class Server {
  public:
    explicit Server(AccessPolicy policy, Limits limits = {});
    // Ends every connection, runs down the contexts it held (which ends their
    // sensor runs), and joins every thread.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Accepts clients on `listening_socket` (which stays the caller's) until
    // stop_accepting(). False when the reactor's descriptors or thread cannot be had.
    bool accept_on(int listening_socket);
    // Returns once no further client will be accepted. Connections stay.
    void stop_accepting();
    // Calls from now on fail with unknown_interface; calls in progress go on.
    void unregister_interface();

  private:
    std::unique_ptr<ServerState> state_;
    std::unique_ptr<Reactor> reactor_;
};

}  // namespace norvo::transport
