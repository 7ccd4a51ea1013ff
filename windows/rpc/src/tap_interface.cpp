#include "norvo/windows/rpc_interface.hpp"

#include "norvo/windows/rpc/norvo_vtap.h"

namespace norvo::windows {

RPC_IF_HANDLE tap_interface() {
    return norvo_vtap_server_interface;
}

}  // namespace norvo::windows
