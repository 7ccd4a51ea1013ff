#pragma once
// The local RPC server: the interface on "ncalrpc", guarded by one security descriptor.

#include "norvo/host/service_main.hpp"

#include <windows.h>

#include <rpc.h>

#include <expected>
#include <memory>

namespace norvo::windows {

class RpcServer final : public host::RpcServerHandle {
  public:
    // Protocol sequence, interface, bindings, endpoint, then listening without waiting.
    [[nodiscard]] static std::expected<std::unique_ptr<RpcServer>, host::RpcError> start(
        RPC_IF_HANDLE if_handle);

    RpcServer(const RpcServer&) = delete;
    RpcServer& operator=(const RpcServer&) = delete;
    ~RpcServer() override;

    // Unregisters the interface and the endpoint without waiting for calls in progress.
    [[nodiscard]] std::expected<void, host::RpcError> stop() override;

  private:
    explicit RpcServer(RPC_IF_HANDLE if_handle) : if_handle_(if_handle) {}
    [[nodiscard]] std::expected<void, host::RpcError> listen(void* security_descriptor);

    RPC_IF_HANDLE if_handle_;                 // the registered interface
    RPC_BINDING_VECTOR* bindings_ = nullptr;  // owned; null once freed
};

}  // namespace norvo::windows
