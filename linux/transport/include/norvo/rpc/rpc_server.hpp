#pragma once
// The RPC server on Linux: the local transport and its endpoint, started and
// stopped in the steps and with the log lines of the Windows server.

#include <expected>
#include <filesystem>
#include <memory>

#include "norvo/rpc/rpc_error.hpp"
#include "norvo/transport/access_policy.hpp"
#include "norvo/transport/endpoint.hpp"
#include "norvo/transport/server.hpp"

namespace norvo::rpc {

class RpcServer {
  public:
    // Listening on the socket file `endpoint` once it returns. A start that
    // fails after the endpoint was bound releases what it made.
    [[nodiscard]] static std::expected<RpcServer, RpcError> start(
        const std::filesystem::path& endpoint,
        transport::AccessPolicy access = transport::AccessPolicy::for_this_system(),
        transport::Limits limits = {});

    // Withdraws the interface and the endpoint without waiting for calls in
    // progress. Does nothing once stopped.
    [[nodiscard]] std::expected<void, RpcError> stop();

    // Release: stops (ignoring the result), frees what stop left, then ends the
    // connections still open, which runs their contexts down.
    ~RpcServer();
    RpcServer(RpcServer&&) noexcept = default;
    RpcServer& operator=(RpcServer&&) = delete;

  private:
    RpcServer() = default;

    std::unique_ptr<transport::Server> runtime_;
    // The Linux counterpart of the binding vector: present from bind to stop.
    std::unique_ptr<transport::Endpoint> bindings_;
};

}  // namespace norvo::rpc
