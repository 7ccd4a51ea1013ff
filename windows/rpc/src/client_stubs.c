/* The client side of the interface, for vtapctl.exe and the test client: stubs for procedures 0-6
 * and the dispatch of the four callbacks to the vtap_client_* routines. */

#include "norvo/windows/rpc/norvo_vtap_client.h"
#include "stub_desc.h"

static RPC_DISPATCH_FUNCTION callback_functions[NORVO_VTAP_CALLBACKS] = {NORVO_DISPATCH_4};
static RPC_DISPATCH_TABLE callback_table = {NORVO_VTAP_CALLBACKS, callback_functions, 0};

static const SERVER_ROUTINE callback_routines[NORVO_VTAP_CALLBACKS] = {
    ROUTINE(vtap_client_TapEvent),
    ROUTINE(vtap_client_SendClientEvent),
    ROUTINE(vtap_client_SensorStateChanged),
    ROUTINE(vtap_client_SignalReturn),
};

static const MIDL_STUB_DESC stub_desc;

static const MIDL_SERVER_INFO callback_info = NORVO_SERVER_INFO(
    &stub_desc, callback_routines, norvo_vtap_proc_format, norvo_vtap_callback_offsets);

static const RPC_CLIENT_INTERFACE client_interface =
    NORVO_INTERFACE(RPC_CLIENT_INTERFACE, NORVO_VTAP_INTERFACE_ID, &callback_table, &callback_info,
                    RPCFLG_HAS_CALLBACK);

static const MIDL_STUB_DESC stub_desc = NORVO_VTAP_STUB_DESC(&client_interface, 0);

RPC_IF_HANDLE norvo_vtap_client_interface = (RPC_IF_HANDLE)&client_interface;

#define FORMAT(n) &norvo_vtap_proc_format[norvo_vtap_procedure_offsets[n]]
#define CALL(n, ...) NdrClientCall2((PMIDL_STUB_DESC) & stub_desc, FORMAT(n), __VA_ARGS__)

void vtap_c_RemoteOpen(handle_t binding, PCONTEXT_HANDLE_TYPE* context) {
    CALL(0, binding, context);
}

void vtap_c_RemoteClose(PCONTEXT_HANDLE_TYPE* context) {
    CALL(1, context);
}

long vtap_c_NorvoStartSensor(PCONTEXT_HANDLE_TYPE context, hyper cookie) {
    return (long)CALL(2, context, cookie).Simple;
}

long vtap_c_NorvoStopSensor(PCONTEXT_HANDLE_TYPE context) {
    return (long)CALL(3, context).Simple;
}

long vtap_c_NorvoReceiveClientEvent(PCONTEXT_HANDLE_TYPE context, short size, signed char* data) {
    return (long)CALL(4, context, size, data).Simple;
}

long vtap_c_NorvoSetProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key,
                             PROPERTY_BUFFER* value) {
    return (long)CALL(5, context, key, value).Simple;
}

long vtap_c_NorvoQueryProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key, long* size,
                               PROPERTY_BUFFER* buffer, PROPERTY_BUFFER* input) {
    return (long)CALL(6, context, key, size, buffer, input).Simple;
}
