#pragma once
// The socket file that clients connect to. A lock file beside it, held for the
// endpoint's lifetime, tells a second service that the endpoint is taken, and
// tells this one that a socket file left there is stale. The folder must be the
// service's own and writable by nobody else.

#include <expected>
#include <filesystem>

#include "norvo/posix/unique_fd.hpp"
#include "norvo/wire/status.hpp"

namespace norvo::transport {

class Endpoint {
  public:
    // duplicate_endpoint when another service holds it, invalid_endpoint_format
    // for a path too long for a socket address, cant_create_endpoint otherwise
    // (logged at Error when the folder is somebody else's or open to others).
    [[nodiscard]] static std::expected<Endpoint, wire::RpcStatus> bind(
        const std::filesystem::path& path);

    Endpoint(Endpoint&&) noexcept = default;
    Endpoint& operator=(Endpoint&&) = delete;
    ~Endpoint();

    // Listens, and lets every local user reach the socket file: the access
    // policy, not the file mode, decides who stays.
    [[nodiscard]] std::expected<void, wire::RpcStatus> publish();
    // Removes the socket file; new clients find nothing there.
    void withdraw();

    int socket() const { return socket_.get(); }

  private:
    Endpoint(std::filesystem::path path, posix::UniqueFd folder, posix::UniqueFd lock,
             posix::UniqueFd socket);

    std::filesystem::path path_;
    posix::UniqueFd folder_;
    posix::UniqueFd lock_;
    posix::UniqueFd socket_;
    bool linked_ = true;
};

}  // namespace norvo::transport
