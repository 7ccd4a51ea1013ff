#pragma once

#include "norvo/log.hpp"

namespace norvo::host {

// The service host: process entry, service main, control events, recovery.
inline constexpr log::Target kHostLog{"QuelVextoraService"};
// The RPC server's lifecycle.
inline constexpr log::Target kRpcServerLog{"rpc_server"};

}  // namespace norvo::host
