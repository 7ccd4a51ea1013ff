#pragma once
// The server interface the RPC server registers.

#include <windows.h>

#include <rpc.h>

namespace norvo::windows {

// Interface 44d85f25-964b-4cbd-9ea5-8345a2a5c205 version 1.0 over NDR 2.0, with callbacks:
// its seven procedures dispatched to the portable ones (windows/rpc).
RPC_IF_HANDLE tap_interface();

}  // namespace norvo::windows
