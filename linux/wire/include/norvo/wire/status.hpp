#pragma once
// RPC status codes that the transport reports for calls it could not carry out,
// numbered as the Windows RPC runtime numbers them, so a client sees the same
// failures on both platforms.

#include <cstdint>
#include <string_view>

namespace norvo::wire {

using RpcStatus = std::int32_t;

namespace status {
inline constexpr RpcStatus ok = 0;
inline constexpr RpcStatus access_denied = 5;
inline constexpr RpcStatus context_mismatch = 6;  // a handle this connection was never given
inline constexpr RpcStatus invalid_endpoint_format = 1706;
inline constexpr RpcStatus unknown_interface = 1717;
inline constexpr RpcStatus cant_create_endpoint = 1720;
inline constexpr RpcStatus out_of_resources = 1721;
inline constexpr RpcStatus server_unavailable = 1722;
inline constexpr RpcStatus server_too_busy = 1723;
inline constexpr RpcStatus call_failed = 1726;
inline constexpr RpcStatus protocol_error = 1728;
inline constexpr RpcStatus duplicate_endpoint = 1740;
inline constexpr RpcStatus procnum_out_of_range = 1745;
inline constexpr RpcStatus null_context = 1775;
inline constexpr RpcStatus bad_stub_data = 1783;
inline constexpr RpcStatus call_cancelled = 1818;  // the client's deadline passed first
}  // namespace status

// A short English description; "unknown RPC status" for other numbers.
std::string_view describe_status(RpcStatus status);

}  // namespace norvo::wire
