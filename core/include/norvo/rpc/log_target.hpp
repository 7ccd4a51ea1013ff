#pragma once

#include "norvo/log.hpp"

namespace norvo::rpc {

// The RPC server's lifecycle.
inline constexpr log::Target kLog{"rpc_server"};

}  // namespace norvo::rpc
