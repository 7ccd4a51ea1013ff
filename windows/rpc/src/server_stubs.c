/* The service side of the interface: procedures 0-6 dispatched to interpreted server stubs,
 * and the client stubs of the four callbacks, made over the current call. */

#include "norvo/windows/rpc/norvo_vtap.h"
#include "stub_desc.h"

static const NDR_RUNDOWN rundown_routines[] = {PCONTEXT_HANDLE_TYPE_rundown};

static RPC_DISPATCH_FUNCTION dispatch_functions[NORVO_VTAP_PROCEDURES] = {
    NORVO_DISPATCH_4,
    NdrServerCall2,
    NdrServerCall2,
    NdrServerCall2,
};
static RPC_DISPATCH_TABLE dispatch_table = {NORVO_VTAP_PROCEDURES, dispatch_functions, 0};

static const SERVER_ROUTINE server_routines[NORVO_VTAP_PROCEDURES] = {
    ROUTINE(vtap_s_RemoteOpen),
    ROUTINE(vtap_s_RemoteClose),
    ROUTINE(vtap_s_NorvoStartSensor),
    ROUTINE(vtap_s_NorvoStopSensor),
    ROUTINE(vtap_s_NorvoReceiveClientEvent),
    ROUTINE(vtap_s_NorvoSetProperty),
    ROUTINE(vtap_s_NorvoQueryProperty),
};

static const MIDL_STUB_DESC stub_desc;

static const MIDL_SERVER_INFO server_info = NORVO_SERVER_INFO(
    &stub_desc, server_routines, norvo_vtap_proc_format, norvo_vtap_procedure_offsets);

static const RPC_SERVER_INTERFACE server_interface =
    NORVO_INTERFACE(RPC_SERVER_INTERFACE, NORVO_VTAP_INTERFACE_ID, &dispatch_table, &server_info,
                    RPCFLG_HAS_CALLBACK);

static const MIDL_STUB_DESC stub_desc = NORVO_VTAP_STUB_DESC(&server_interface, rundown_routines);

RPC_IF_HANDLE norvo_vtap_server_interface = (RPC_IF_HANDLE)&server_interface;

#define CALLBACK_FORMAT(n) &norvo_vtap_proc_format[norvo_vtap_callback_offsets[n]]

void vtap_cb_TapEvent(long kind, hyper timestamp, hyper cookie) {
    NdrClientCall2((PMIDL_STUB_DESC)&stub_desc, CALLBACK_FORMAT(0), kind, timestamp, cookie);
}

void vtap_cb_SendClientEvent(short size, signed char* data, hyper cookie) {
    NdrClientCall2((PMIDL_STUB_DESC)&stub_desc, CALLBACK_FORMAT(1), size, data, cookie);
}

void vtap_cb_SensorStateChanged(hyper timestamp, NORVO_SENSOR_STATE state, hyper cookie) {
    NdrClientCall2((PMIDL_STUB_DESC)&stub_desc, CALLBACK_FORMAT(2), timestamp, state, cookie);
}

void vtap_cb_SignalReturn(long status, hyper cookie) {
    NdrClientCall2((PMIDL_STUB_DESC)&stub_desc, CALLBACK_FORMAT(3), status, cookie);
}
