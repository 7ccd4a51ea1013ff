#include "norvo/rpc/rpc_error.hpp"

using norvo::rpc::RpcError;
using norvo::rpc::RpcStatusWrapper;

namespace norvo::rpc {

std::string debug_form(const RpcError& error) {
    switch (error.kind) {
        case RpcError::Kind::Win32:
            return fmt::format("Win32({})", error.platform);
        case RpcError::Kind::Rpc:
            return fmt::format("Rpc(RpcStatusWrapper {{ status: {} }})", error.rpc.status);
        case RpcError::Kind::WrongSidCapability:
            return "WrongSidCapability";
        case RpcError::Kind::SharedStateAccess:
            return "SharedStateAccess";
    }
    return {};
}

}  // namespace norvo::rpc

fmt::format_context::iterator fmt::formatter<RpcStatusWrapper>::format(const RpcStatusWrapper& w,
                                                                       format_context& ctx) const {
    return fmt::format_to(ctx.out(), "RPC status: {}", w.status);
}

// A platform error shows its system message and its code.
fmt::format_context::iterator fmt::formatter<RpcError>::format(const RpcError& e,
                                                               format_context& ctx) const {
    switch (e.kind) {
        case RpcError::Kind::Win32:
            return fmt::format_to(ctx.out(), "Windows Core error: {} (0x{:08X})",
                                  e.platform.message, static_cast<std::uint32_t>(e.platform.code));
        case RpcError::Kind::Rpc:
            return fmt::format_to(ctx.out(), "Windows RPC error: {}", e.rpc);
        case RpcError::Kind::WrongSidCapability:
            return fmt::format_to(ctx.out(), "Wrong SID capability");
        case RpcError::Kind::SharedStateAccess:
            return fmt::format_to(ctx.out(), "Could not acces shared state");
    }
    return ctx.out();
}
