#include "callback_mirror.h"

#include "ndr_format_bytes.h"
#include "stub_desc.h"

const unsigned char norvo_mirror_proc_format[] = {
    NORVO_VTAP_CALLBACK_FORMATS(FC_BIND_PRIMITIVE),
    0x00,
};

const unsigned short norvo_mirror_offsets[NORVO_VTAP_CALLBACKS] = {
    CALLBACK_AT_0,
    CALLBACK_AT_1,
    CALLBACK_AT_2,
    CALLBACK_AT_3,
};

handle_t norvo_mirror_binding;

/* Served here, to the routines that receive the real callbacks. */
static RPC_DISPATCH_FUNCTION dispatch_functions[NORVO_VTAP_CALLBACKS] = {NORVO_DISPATCH_4};
static RPC_DISPATCH_TABLE dispatch_table = {NORVO_VTAP_CALLBACKS, dispatch_functions, 0};

static const SERVER_ROUTINE routines[NORVO_VTAP_CALLBACKS] = {
    ROUTINE(vtap_client_TapEvent),
    ROUTINE(vtap_client_SendClientEvent),
    ROUTINE(vtap_client_SensorStateChanged),
    ROUTINE(vtap_client_SignalReturn),
};

static const MIDL_STUB_DESC server_desc;

static const MIDL_SERVER_INFO server_info =
    NORVO_SERVER_INFO(&server_desc, routines, norvo_mirror_proc_format, norvo_mirror_offsets);

static const RPC_SERVER_INTERFACE server_interface = NORVO_INTERFACE(
    RPC_SERVER_INTERFACE, NORVO_MIRROR_INTERFACE_ID, &dispatch_table, &server_info, 0);

static const MIDL_STUB_DESC server_desc =
    NORVO_STUB_DESC(&server_interface, 0, 0, norvo_vtap_type_format);

RPC_IF_HANDLE norvo_mirror_server_interface = (RPC_IF_HANDLE)&server_interface;

/* The client side. */
static const RPC_CLIENT_INTERFACE client_interface =
    NORVO_INTERFACE(RPC_CLIENT_INTERFACE, NORVO_MIRROR_INTERFACE_ID, 0, 0, 0);

static const MIDL_STUB_DESC client_desc =
    NORVO_STUB_DESC(&client_interface, &norvo_mirror_binding, 0, norvo_vtap_type_format);

#define CALL(n, ...)                                \
    NdrClientCall2((PMIDL_STUB_DESC) & client_desc, \
                   &norvo_mirror_proc_format[norvo_mirror_offsets[n]], __VA_ARGS__)

void mirror_TapEvent(long kind, hyper timestamp, hyper cookie) {
    CALL(0, kind, timestamp, cookie);
}

void mirror_SendClientEvent(short size, signed char* data, hyper cookie) {
    CALL(1, size, data, cookie);
}

void mirror_SensorStateChanged(hyper timestamp, NORVO_SENSOR_STATE state, hyper cookie) {
    CALL(2, timestamp, state, cookie);
}

void mirror_SignalReturn(long status, hyper cookie) {
    CALL(3, status, cookie);
}
