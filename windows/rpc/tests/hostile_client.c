/* The service's procedures 4, 5 and 6 (and the mirror's callback 1), except that each array's
 * count comes from a stack slot after the last parameter, which travels nowhere: the engine
 * sends that many elements and the size parameter or field as given. */

#include "hostile_client.h"

#include "callback_mirror.h"
#include "ndr_format_bytes.h"
#include "stub_desc.h"

#define H_CONTEXT_IN 2
#define H_BYTES_AT_32 6
#define H_PROPERTY_KEY 18
#define H_BUFFER_AT_32 24
#define H_BYTES_AT_48 32
#define H_BUFFER_AT_48 44
#define H_BUFFER_AT_48_FULL 52

static const unsigned char types[] = {
    U16(0),
    /* 2 */
    FC_BIND_CONTEXT,
    CTX_IN,
    0x00,
    0x00,
    /* 6: small[count], count at stack offset 32 */
    SMALL_ARRAY_SIZED_BY_SHORT(FC_TOP_LEVEL_CONFORMANCE, 32),
    /* 18 */
    FC_STRUCT,
    0x03,
    U16(4),
    FC_LONG,
    FC_END,
    /* 24: PROPERTY_BUFFER { short size; small data[count at 32]; } */
    FC_CSTRUCT,
    0x01,
    U16(2),
    U16(H_BYTES_AT_32 - 28),
    FC_SHORT,
    FC_END,
    /* 32: small[count], count at stack offset 48 */
    SMALL_ARRAY_SIZED_BY_SHORT(FC_TOP_LEVEL_CONFORMANCE, 48),
    /* 44: PROPERTY_BUFFER { short size; small data[count at 48]; } */
    FC_CSTRUCT,
    0x01,
    U16(2),
    U16(H_BYTES_AT_48 - 48),
    FC_SHORT,
    FC_END,
    /* 52 */
    FC_FP,
    0x00,
    U16(H_BUFFER_AT_48 - 54),
    0x00,
};

static const unsigned char procs[] = {
    /* 0 */
    NORVO_RECEIVE_CLIENT_EVENT_FORMAT(40, H_CONTEXT_IN, H_BYTES_AT_32),
    /* 56 */
    NORVO_SET_PROPERTY_FORMAT(40, H_CONTEXT_IN, H_PROPERTY_KEY, H_BUFFER_AT_32),
    /* 112 */
    NORVO_QUERY_PROPERTY_FORMAT(56, H_CONTEXT_IN, H_PROPERTY_KEY, H_BUFFER_AT_48_FULL),

    /* 180: the mirror's callback 1, through an explicit binding handle */
    NDR_PROCEDURE(0x48, 1, 40),
    FC_BIND_PRIMITIVE,
    0x00,
    U16(0),
    OI2(32, 0, CLIENT_MUST_SIZE, 3),
    PARAM_BASE(IN_BASE, 8, FC_SHORT),
    PARAM(IN_SIZED, 16, H_BYTES_AT_32),
    PARAM_BASE(IN_BASE, 24, FC_HYPER),

    0x00,
};

static const RPC_CLIENT_INTERFACE service_interface =
    NORVO_INTERFACE(RPC_CLIENT_INTERFACE, NORVO_VTAP_INTERFACE_ID, 0, 0, 0);
static const MIDL_STUB_DESC service_desc = NORVO_STUB_DESC(&service_interface, 0, 0, types);

static const RPC_CLIENT_INTERFACE mirror_interface =
    NORVO_INTERFACE(RPC_CLIENT_INTERFACE, NORVO_MIRROR_INTERFACE_ID, 0, 0, 0);
static const MIDL_STUB_DESC mirror_desc = NORVO_STUB_DESC(&mirror_interface, 0, 0, types);

/* The return value's slot, filled by the engine and not read from. */
#define RETURN_SLOT 0LL

long hostile_NorvoReceiveClientEvent(PCONTEXT_HANDLE_TYPE context, short size, signed char* data,
                                     short count) {
    return (long)NdrClientCall2((PMIDL_STUB_DESC)&service_desc, &procs[0], context, size, data,
                                RETURN_SLOT, count)
        .Simple;
}

long hostile_NorvoSetProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key,
                              PROPERTY_BUFFER* value, short count) {
    return (long)NdrClientCall2((PMIDL_STUB_DESC)&service_desc, &procs[56], context, key, value,
                                RETURN_SLOT, count)
        .Simple;
}

long hostile_NorvoQueryProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key, long* size,
                                PROPERTY_BUFFER* buffer, short count) {
    return (long)NdrClientCall2((PMIDL_STUB_DESC)&service_desc, &procs[112], context, key, size,
                                buffer, (PROPERTY_BUFFER*)0, RETURN_SLOT, count)
        .Simple;
}

void hostile_SendClientEvent(handle_t mirror, short size, signed char* data, hyper cookie,
                             short count) {
    NdrClientCall2((PMIDL_STUB_DESC)&mirror_desc, &procs[180], mirror, size, data, cookie, count);
}
