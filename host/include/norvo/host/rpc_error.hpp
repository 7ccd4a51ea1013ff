#pragma once
// The RPC server's error is the core's, shared with the Linux transport.

#include <cstdint>

#include "norvo/rpc/rpc_error.hpp"

namespace norvo::host {

using rpc::RpcError;
using rpc::RpcStatusWrapper;

// A Win32 error code as an HRESULT: positive codes land in the Win32 facility, others pass as they
// are.
std::int32_t hresult_from_win32(std::int32_t code);

}  // namespace norvo::host
