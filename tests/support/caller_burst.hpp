#pragma once
// Many threads calling through one client-library connection at the same moment.

#include <vector>

#include "norvo/client/connection.hpp"

namespace norvo::testing {

// `callers` threads, released together, each read the version property (8 bytes) of
// `context`; the status of every call that failed, -1 for a wrong answer.
std::vector<wire::RpcStatus> burst_of_callers(client::Connection& connection,
                                              const client::ContextHandle& context, int callers);

}  // namespace norvo::testing
