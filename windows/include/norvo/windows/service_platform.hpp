#pragma once
// Service main on the service control manager.

#include "norvo/host/service_main.hpp"

#include <windows.h>

namespace norvo::windows {

class ScmServicePlatform final : public host::ServicePlatform {
  public:
    [[nodiscard]] std::expected<host::ServiceObject, host::HostError> create_service_object()
        override;
    [[nodiscard]] std::expected<void, host::HostError> start_runtime() override;
    [[nodiscard]] std::expected<std::unique_ptr<host::RpcServerHandle>, host::RpcError>
    start_rpc_server() override;
};

// The service main function of the dispatcher table. The arguments are not used.
void WINAPI service_main(DWORD argc, LPWSTR* argv);

}  // namespace norvo::windows
