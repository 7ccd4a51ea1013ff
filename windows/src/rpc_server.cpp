#include "norvo/windows/rpc_server.hpp"

#include "norvo/fatal.hpp"
#include "norvo/host/log_targets.hpp"
#include "norvo/windows/win32.hpp"

#include <sddl.h>

// Missing from mingw-w64's rpcdce.h; rpcrt4 exports it since Windows 8.
extern "C" RPCRTAPI RPC_STATUS RPC_ENTRY
RpcServerRegisterIf3(RPC_IF_HANDLE IfSpec, UUID* MgrTypeUuid, RPC_MGR_EPV* MgrEpv,
                     unsigned int Flags, unsigned int MaxCalls, unsigned int MaxRpcSize,
                     RPC_IF_CALLBACK_FN* IfCallback, void* SecurityDescriptor);

namespace norvo::windows {
namespace {

using host::kRpcServerLog;
using host::RpcError;

// Interactive users, LocalSystem and LocalService; nobody else.
constexpr wchar_t kSecurityDescriptor[] = L"D:(A;;GA;;;IU)(A;;GA;;;S-1-5-18)(A;;GA;;;S-1-5-19)";
wchar_t kProtocolSequence[] = L"ncalrpc";
wchar_t kEndpoint[] = L"NorvoVxtRpcEndpoint";
constexpr unsigned kProtseqMaxCalls = 10;
constexpr unsigned kInterfaceFlags = RPC_IF_AUTOLISTEN | RPC_IF_ALLOW_LOCAL_ONLY;
constexpr unsigned kMaxCalls = 1234;

RPC_WSTR rpc_text(wchar_t* text) {
    return reinterpret_cast<RPC_WSTR>(text);
}

[[nodiscard]] std::expected<void, RpcError> check(RPC_STATUS status, std::string_view done) {
    if (status != RPC_S_OK)
        return std::unexpected(RpcError::from_status(status));
    kRpcServerLog.trace("{}", done);
    return {};
}

}  // namespace

std::expected<std::unique_ptr<RpcServer>, RpcError> RpcServer::start(RPC_IF_HANDLE if_handle) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kSecurityDescriptor, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return std::unexpected(RpcError::win32(last_platform_error()));
    }
    if (!descriptor)
        fatal("ptr cannot be null");
    LocalMemory owned_descriptor(descriptor);
    std::unique_ptr<RpcServer> server(new RpcServer(if_handle));
    if (auto listening = server->listen(descriptor); !listening)
        return std::unexpected(listening.error());
    return server;
}

std::expected<void, RpcError> RpcServer::listen(void* descriptor) {
    if (auto s = check(RpcServerUseProtseqEpW(rpc_text(kProtocolSequence), kProtseqMaxCalls,
                                              rpc_text(kEndpoint), descriptor),
                       "Rpc Server requested");
        !s) {
        return s;
    }
    if (auto s = check(RpcServerRegisterIf3(if_handle_, nullptr, nullptr, kInterfaceFlags,
                                            kMaxCalls, 0, nullptr, descriptor),
                       "Rpc Server registered");
        !s) {
        return s;
    }
    // Kept as soon as inquired, so that a later failure still releases it.
    if (auto s = check(RpcServerInqBindings(&bindings_), "Rpc Server bindings inquired"); !s)
        return s;
    if (auto s = check(RpcEpRegisterW(if_handle_, bindings_, nullptr, nullptr),
                       "Rpc Server endpoint registered");
        !s) {
        return s;
    }
    return check(RpcServerListen(1, kMaxCalls, 1), "Rpc Server listening");
}

std::expected<void, RpcError> RpcServer::stop() {
    if (!bindings_)
        return {};
    if (auto s = check(RpcServerUnregisterIf(if_handle_, nullptr, 0), "Rpc Server unregistered");
        !s)
        return s;
    if (auto s = check(RpcEpUnregister(if_handle_, bindings_, nullptr),
                       "Rpc Server endpoint unregistered");
        !s)
        return s;
    return check(RpcBindingVectorFree(&bindings_), "Rpc Server bindings freed");
}

RpcServer::~RpcServer() {
    (void)stop();
    if (bindings_)
        RpcBindingVectorFree(&bindings_);
}

}  // namespace norvo::windows
