/* The interface's NDR 2.0 format strings (interpreted, Oicf, 64-bit, robust), for both sides:
 * the service dispatches procedures 0-6 and calls callbacks 0-3 with them; the test client
 * does the reverse. Every conformant array is tied to its count by a correlation descriptor
 * that the receiving side checks, so a count that disagrees with its array is refused before
 * a routine runs. Written by hand: widl rejects [callback] procedures, drops the
 * no-serialise bit of the context handle and lists an explicit handle_t as a long on the wire. */

#include "norvo/windows/rpc/ndr_formats.h"

#include "ndr_format_bytes.h"

#define CALLBACKS_AT 348

const unsigned char norvo_vtap_type_format[] = {
    U16(0),
    /* 2: [out] PCONTEXT_HANDLE_TYPE* of RemoteOpen, rundown routine 0 */
    FC_BIND_CONTEXT,
    CTX_OPEN,
    0x00,
    0x00,
    /* 6: [in, out] PCONTEXT_HANDLE_TYPE* of RemoteClose; the runtime refuses a null one */
    FC_BIND_CONTEXT,
    CTX_CLOSE_TYPE,
    0x00,
    0x00,
    /* 10: [in] PCONTEXT_HANDLE_TYPE of procedures 2-6 */
    FC_BIND_CONTEXT,
    CTX_IN,
    0x00,
    0x00,
    /* 14: small[size], size being the short parameter at stack offset 8 (procedure 4) */
    SMALL_ARRAY_SIZED_BY_SHORT(FC_TOP_LEVEL_CONFORMANCE, 8),
    /* 26: PROPERTY_KEY { long key; } */
    FC_STRUCT,
    0x03,
    U16(4),
    FC_LONG,
    FC_END,
    /* 32: PROPERTY_BUFFER's small data[size], size being the short field just before */
    SMALL_ARRAY_SIZED_BY_SHORT(FC_NORMAL_CONFORMANCE, -2),
    /* 44: PROPERTY_BUFFER { short size; small data[]; }, conformant */
    FC_CSTRUCT,
    0x01,
    U16(2),
    U16(T_PROPERTY_BUFFER_DATA - 48),
    FC_SHORT,
    FC_END,
    /* 52: full pointer to PROPERTY_BUFFER (procedure 6) */
    FC_FP,
    0x00,
    U16(T_PROPERTY_BUFFER - 54),
    /* 56: small[size], size being the short parameter at stack offset 0 (callback 1) */
    SMALL_ARRAY_SIZED_BY_SHORT(FC_TOP_LEVEL_CONFORMANCE, 0),
    0x00,
};

const unsigned char norvo_vtap_proc_format[] = {
    /* 0: RemoteOpen([in] handle_t, [out] PCONTEXT_HANDLE_TYPE*). The binding handle is not
     * a parameter on the wire. */
    NDR_PROCEDURE(0x48, 0, 16),
    FC_BIND_PRIMITIVE,
    0x00,
    U16(0),
    OI2(0, 56, 0, 1),
    PARAM(OUT_REF, 8, T_CONTEXT_OPEN),

    /* 36: RemoteClose([in, out] PCONTEXT_HANDLE_TYPE*) */
    NDR_PROCEDURE(0x48, 1, 8),
    BIND_CONTEXT(CTX_CLOSE),
    OI2(56, 56, 0, 1),
    PARAM(IN_OUT_REF, 0, T_CONTEXT_CLOSE),

    /* 74: long NorvoStartSensor([in] PCONTEXT_HANDLE_TYPE, [in] hyper cookie) */
    NDR_PROCEDURE(0x48, 2, 24),
    BIND_CONTEXT(CTX_IN_HEADER),
    OI2(52, 8, HAS_RETURN, 3),
    PARAM(IN_CONTEXT, 0, T_CONTEXT_IN),
    PARAM_BASE(IN_BASE, 8, FC_HYPER),
    PARAM_BASE(RETURN_BASE, 16, FC_LONG),

    /* 124: long NorvoStopSensor([in] PCONTEXT_HANDLE_TYPE) */
    NDR_PROCEDURE(0x48, 3, 16),
    BIND_CONTEXT(CTX_IN_HEADER),
    OI2(36, 8, HAS_RETURN, 2),
    PARAM(IN_CONTEXT, 0, T_CONTEXT_IN),
    PARAM_BASE(RETURN_BASE, 8, FC_LONG),

    /* 168: long NorvoReceiveClientEvent([in] PCONTEXT_HANDLE_TYPE, [in] short size,
     * [in, size_is(size)] small data[]) */
    NORVO_RECEIVE_CLIENT_EVENT_FORMAT(32, T_CONTEXT_IN, T_EVENT_BYTES),

    /* 224: long NorvoSetProperty([in] PCONTEXT_HANDLE_TYPE, [in] PROPERTY_KEY,
     * [in, ref] PROPERTY_BUFFER*) */
    NORVO_SET_PROPERTY_FORMAT(32, T_CONTEXT_IN, T_PROPERTY_KEY, T_PROPERTY_BUFFER),

    /* 280: long NorvoQueryProperty([in] PCONTEXT_HANDLE_TYPE, [in] PROPERTY_KEY,
     * [out] long* size, [in, out, ptr] PROPERTY_BUFFER*, [in, ptr] PROPERTY_BUFFER*) */
    NORVO_QUERY_PROPERTY_FORMAT(48, T_CONTEXT_IN, T_PROPERTY_KEY, T_PROPERTY_BUFFER_FULL),

    /* 348: callbacks 0-3, made over the current call */
    NORVO_VTAP_CALLBACK_FORMATS(FC_CALLBACK_HANDLE),

    0x00,
};

const unsigned short norvo_vtap_procedure_offsets[NORVO_VTAP_PROCEDURES] = {
    0, 36, 74, 124, 168, 224, 280,
};

const unsigned short norvo_vtap_callback_offsets[NORVO_VTAP_CALLBACKS] = {
    CALLBACKS_AT + CALLBACK_AT_0,
    CALLBACKS_AT + CALLBACK_AT_1,
    CALLBACKS_AT + CALLBACK_AT_2,
    CALLBACKS_AT + CALLBACK_AT_3,
};

const unsigned norvo_vtap_proc_format_size = sizeof norvo_vtap_proc_format;
