#include "norvo/host/rpc_error.hpp"

namespace norvo::host {

std::int32_t hresult_from_win32(std::int32_t code) {
    if (code <= 0)
        return code;
    return static_cast<std::int32_t>(0x80070000u | (static_cast<std::uint32_t>(code) & 0xFFFFu));
}

}  // namespace norvo::host

fmt::format_context::iterator fmt::formatter<norvo::host::RpcError>::format(
    const norvo::host::RpcError& e, format_context& ctx) const {
    using Kind = norvo::host::RpcError::Kind;
    switch (e.kind) {
        case Kind::Win32:
            return fmt::format_to(ctx.out(), "Windows Core error: {}", e.platform);
        case Kind::Rpc:
            return fmt::format_to(ctx.out(), "Windows RPC error: {}", e.rpc);
        case Kind::WrongSidCapability:
            return fmt::format_to(ctx.out(), "Wrong SID capability");
        case Kind::SharedStateAccess:
            return fmt::format_to(ctx.out(), "Could not acces shared state");
    }
    return ctx.out();
}
