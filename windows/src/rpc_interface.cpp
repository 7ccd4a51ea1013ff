#include "norvo/windows/rpc_interface.hpp"

namespace norvo::windows {
namespace {

RPC_DISPATCH_TABLE g_dispatch{0, nullptr, 0};

const RPC_SERVER_INTERFACE g_interface{
    sizeof(RPC_SERVER_INTERFACE),
    {{0x44d85f25, 0x964b, 0x4cbd, {0x9e, 0xa5, 0x83, 0x45, 0xa2, 0xa5, 0xc2, 0x05}}, {1, 0}},
    {{0x8a885d04, 0x1ceb, 0x11c9, {0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60}}, {2, 0}},
    &g_dispatch,
    0,
    nullptr,
    nullptr,
    nullptr,
    0,
};

}  // namespace

RPC_IF_HANDLE tap_interface() {
    return const_cast<RPC_SERVER_INTERFACE*>(&g_interface);
}

}  // namespace norvo::windows
