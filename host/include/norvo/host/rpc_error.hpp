#pragma once
// The RPC plumbing's error type.

#include <fmt/format.h>

#include <cstdint>

#include "norvo/sensors/sensor_error.hpp"

namespace norvo::host {

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
    static RpcError rpc_status(std::int32_t status) { return {Kind::Rpc, {}, {status}}; }
};

// A Win32 error code as an HRESULT: positive codes land in the Win32 facility, others pass as they
// are.
std::int32_t hresult_from_win32(std::int32_t code);

}  // namespace norvo::host

// "RPC status: 1740"
template <>
struct fmt::formatter<norvo::host::RpcStatusWrapper> : fmt::formatter<std::string_view> {
    auto format(const norvo::host::RpcStatusWrapper& w, format_context& ctx) const {
        return fmt::format_to(ctx.out(), "RPC status: {}", w.status);
    }
};

// The display text, e.g. "Windows RPC error: RPC status: 1740".
template <>
struct fmt::formatter<norvo::host::RpcError> : fmt::formatter<std::string_view> {
    format_context::iterator format(const norvo::host::RpcError& e, format_context& ctx) const;
};
