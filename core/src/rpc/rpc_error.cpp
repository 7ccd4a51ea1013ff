#include "norvo/rpc/rpc_error.hpp"

using norvo::rpc::RpcError;
using norvo::rpc::RpcStatusWrapper;

namespace norvo::rpc {

namespace {

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};

}  // namespace

std::string debug_form(const RpcError& error) {
    return std::visit(
        Overloaded{
            [](const sensors::PlatformError& e) { return fmt::format("Win32({})", e); },
            [](const RpcStatusWrapper& w) {
                return fmt::format("Rpc(RpcStatusWrapper {{ status: {} }})", w.status);
            },
            [](WrongSidCapability) { return std::string("WrongSidCapability"); },
            [](SharedStateAccess) { return std::string("SharedStateAccess"); },
        },
        error.value);
}

}  // namespace norvo::rpc

fmt::format_context::iterator fmt::formatter<RpcStatusWrapper>::format(const RpcStatusWrapper& w,
                                                                       format_context& ctx) const {
    return fmt::format_to(ctx.out(), "RPC status: {}", w.status);
}

// A platform error shows its system message and its code.
fmt::format_context::iterator fmt::formatter<RpcError>::format(const RpcError& e,
                                                               format_context& ctx) const {
    return std::visit(norvo::rpc::Overloaded{
                          [&](const norvo::sensors::PlatformError& p) {
                              return fmt::format_to(ctx.out(), "Windows Core error: {} (0x{:08X})",
                                                    p.message, static_cast<std::uint32_t>(p.code));
                          },
                          [&](const RpcStatusWrapper& w) {
                              return fmt::format_to(ctx.out(), "Windows RPC error: {}", w);
                          },
                          [&](norvo::rpc::WrongSidCapability) {
                              return fmt::format_to(ctx.out(), "Wrong SID capability");
                          },
                          [&](norvo::rpc::SharedStateAccess) {
                              return fmt::format_to(ctx.out(), "Could not acces shared state");
                          },
                      },
                      e.value);
}
