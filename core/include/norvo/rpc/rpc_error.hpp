#pragma once
// The error of the RPC server's lifecycle, shared by every platform's server.

#include <fmt/format.h>

#include <cstdint>
#include <variant>

#include "norvo/sensors/sensor_error.hpp"

namespace norvo::rpc {

struct RpcStatusWrapper {
    std::int32_t status;
};

struct WrongSidCapability {};
struct SharedStateAccess {};

// Each kind carries its own payload and no other's.
struct RpcError {
    std::variant<sensors::PlatformError, RpcStatusWrapper, WrongSidCapability, SharedStateAccess>
        value;

    static RpcError win32(sensors::PlatformError error) { return {std::move(error)}; }
    static RpcError from_status(std::int32_t status) { return {RpcStatusWrapper{status}}; }
};

// The debug form: the variant name with its payload, e.g. "Rpc(RpcStatusWrapper { status: 1740 })".
std::string debug_form(const RpcError& error);

}  // namespace norvo::rpc

// "RPC status: 1740"
template <>
struct fmt::formatter<norvo::rpc::RpcStatusWrapper> : fmt::formatter<std::string_view> {
    format_context::iterator format(const norvo::rpc::RpcStatusWrapper& w,
                                    format_context& ctx) const;
};

// The display text, e.g. "Windows RPC error: RPC status: 1740".
template <>
struct fmt::formatter<norvo::rpc::RpcError> : fmt::formatter<std::string_view> {
    format_context::iterator format(const norvo::rpc::RpcError& e, format_context& ctx) const;
};
