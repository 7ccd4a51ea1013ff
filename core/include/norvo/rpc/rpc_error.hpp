#pragma once
// The error of the RPC server's lifecycle, shared by every platform's server.

#include <fmt/format.h>

#include <cstdint>

#include "norvo/sensors/sensor_error.hpp"

namespace norvo::rpc {

struct RpcStatusWrapper {
    std::int32_t status;
};

struct RpcError {
    enum class Kind : std::uint8_t { Win32, Rpc, WrongSidCapability, SharedStateAccess };
    Kind kind;
    sensors::PlatformError platform{};  // Win32 only
    RpcStatusWrapper rpc{};             // Rpc only

    static RpcError win32(sensors::PlatformError error) {
        return {Kind::Win32, std::move(error), {}};
    }
    static RpcError from_status(std::int32_t status) { return {Kind::Rpc, {}, {status}}; }
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
