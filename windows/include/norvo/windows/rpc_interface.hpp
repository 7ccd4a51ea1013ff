#pragma once
// The server interface the RPC server registers.

#include <windows.h>

#include <rpc.h>

namespace norvo::windows {

// Interface 44d85f25-964b-4cbd-9ea5-8345a2a5c205 version 1.0 over NDR. Until the
// interface's stubs land it dispatches no procedure, so that the server's lifecycle
// runs against the real runtime.
RPC_IF_HANDLE tap_interface();

}  // namespace norvo::windows
