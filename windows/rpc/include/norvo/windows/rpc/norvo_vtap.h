/* The interface's types and its stubs on both sides, in C. The service implements the
 * vtap_s_* routines and calls the vtap_cb_* callback stubs; a client (vtapctl.exe, the test
 * client) calls the vtap_c_* stubs and implements the vtap_client_* callbacks
 * (norvo_vtap_client.h). */
#ifndef NORVO_WINDOWS_RPC_NORVO_VTAP_H
#define NORVO_WINDOWS_RPC_NORVO_VTAP_H

#include "norvo/windows/rpc/norvo_vtap_client.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Service side: it implements the procedures and calls the callback stubs, which are valid
 * only on the thread of a NorvoStartSensor call in progress and raise the RPC runtime's
 * exception on failure. */
extern RPC_IF_HANDLE norvo_vtap_server_interface;
NORVO_VTAP_PROCEDURES_NAMED(vtap_s_)
void __RPC_USER PCONTEXT_HANDLE_TYPE_rundown(PCONTEXT_HANDLE_TYPE context);
NORVO_VTAP_CALLBACKS_NAMED(vtap_cb_)

#ifdef __cplusplus
}
#endif

#endif
