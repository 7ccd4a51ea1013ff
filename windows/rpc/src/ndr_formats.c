/* The interface's NDR 2.0 format strings (interpreted, Oicf, 64-bit), for both sides: the
 * service dispatches procedures 0-6 and calls callbacks 0-3 with them; the test client does
 * the reverse. Written by hand: widl rejects [callback] procedures, drops the no-serialise
 * bit of the context handle and lists an explicit handle_t as a long on the wire. */

#include "norvo/windows/rpc/ndr_formats.h"

#include <rpc.h>
#include <rpcndr.h>
#include <ndrtypes.h>

#define U16(v) (unsigned char)((v) & 0xff), (unsigned char)(((v) >> 8) & 0xff)
#define U32(v) U16((v) & 0xffff), U16(((v) >> 16) & 0xffff)

/* Procedure header: explicit handle, Oi flags, RPC flags, opnum, stack size. */
#define NDR_PROCEDURE(oi_flags, opnum, stack) 0x00, oi_flags, U32(0), U16(opnum), U16(stack)
/* Callback header: the callback handle of the current call, callback opnum, stack size. */
#define NDR_CALLBACK(opnum, stack) FC_CALLBACK_HANDLE, 0x48, U32(0), U16(opnum), U16(stack)
/* The context handle bound to the call, at stack offset 0. */
#define BIND_CONTEXT(flags) FC_BIND_CONTEXT, flags, U16(0), 0x00, 0x00
/* Buffer sizes of the fixed part, Oi2 flags, parameter count, and the 64-bit extension. */
#define OI2(client, server, flags, params) \
    U16(client), U16(server), flags, params, 0x0a, 0x00, U16(0), U16(0), U16(0), U16(0)
#define PARAM_BASE(flags, stack, fc) U16(flags), U16(stack), fc, 0x00
#define PARAM(flags, stack, type) U16(flags), U16(stack), U16(type)

/* Oi2 flags */
#define SERVER_MUST_SIZE 0x01
#define CLIENT_MUST_SIZE 0x02
#define HAS_RETURN 0x04
#define HAS_EXTENSIONS 0x40
/* Parameter flags */
#define IN_BASE 0x48
#define RETURN_BASE 0x70
#define IN_CONTEXT 0x08
#define IN_SIZED 0x0b           /* must size, must free, in */
#define IN_OUT_SIZED 0x1b       /* must size, must free, in, out */
#define IN_BY_VALUE 0x8a        /* must free, in, by value */
#define OUT_REF 0x110           /* out, simple ref */
#define IN_OUT_REF 0x118        /* in, out, simple ref */
#define IN_SIZED_REF 0x10b      /* must size, must free, in, simple ref */
#define OUT_BASE_ON_STACK 0x2150 /* out, base type, simple ref, 8 bytes on the server's stack */

/* Context flags: non-serialising on every handle. */
#define CTX_NOSERIALIZE NDR_CONTEXT_HANDLE_NOSERIALIZE
#define CTX_OPEN (HANDLE_PARAM_IS_VIA_PTR | HANDLE_PARAM_IS_OUT | CTX_NOSERIALIZE)
#define CTX_CLOSE (HANDLE_PARAM_IS_VIA_PTR | HANDLE_PARAM_IS_IN | HANDLE_PARAM_IS_OUT | CTX_NOSERIALIZE)
#define CTX_IN (HANDLE_PARAM_IS_IN | NDR_CONTEXT_HANDLE_CANNOT_BE_NULL | CTX_NOSERIALIZE)

/* Type format offsets */
#define T_CONTEXT_OPEN 2
#define T_CONTEXT_CLOSE 6
#define T_CONTEXT_IN 10
#define T_EVENT_BYTES 14
#define T_PROPERTY_KEY 24
#define T_PROPERTY_BUFFER 40
#define T_PROPERTY_BUFFER_FULL 48
#define T_CALLBACK_BYTES 52

const unsigned char norvo_vtap_type_format[] = {
    U16(0),
    /* 2: [out] PCONTEXT_HANDLE_TYPE* of RemoteOpen, rundown routine 0 */
    FC_BIND_CONTEXT, CTX_OPEN, 0x00, 0x00,
    /* 6: [in, out] PCONTEXT_HANDLE_TYPE* of RemoteClose; null allowed */
    FC_BIND_CONTEXT, CTX_CLOSE, 0x00, 0x00,
    /* 10: [in] PCONTEXT_HANDLE_TYPE of procedures 2-6 */
    FC_BIND_CONTEXT, CTX_IN, 0x00, 0x00,
    /* 14: small[size], size being the short parameter at stack offset 8 (procedure 4) */
    FC_CARRAY, 0x00, U16(1), FC_TOP_LEVEL_CONFORMANCE | FC_SHORT, 0x00, U16(8), FC_SMALL, FC_END,
    /* 24: PROPERTY_KEY { long key; } */
    FC_STRUCT, 0x03, U16(4), FC_LONG, FC_END,
    /* 30: PROPERTY_BUFFER's small data[size], size being the short field just before */
    FC_CARRAY, 0x00, U16(1), FC_NORMAL_CONFORMANCE | FC_SHORT, 0x00, U16(-2), FC_SMALL, FC_END,
    /* 40: PROPERTY_BUFFER { short size; small data[]; }, conformant */
    FC_CSTRUCT, 0x01, U16(2), U16(30 - 44), FC_SHORT, FC_END,
    /* 48: full pointer to PROPERTY_BUFFER (procedure 6) */
    FC_FP, 0x00, U16(40 - 50),
    /* 52: small[size], size being the short parameter at stack offset 0 (callback 1) */
    FC_CARRAY, 0x00, U16(1), FC_TOP_LEVEL_CONFORMANCE | FC_SHORT, 0x00, U16(0), FC_SMALL, FC_END,
    0x00,
};

const unsigned char norvo_vtap_proc_format[] = {
    /* 0: RemoteOpen([in] handle_t, [out] PCONTEXT_HANDLE_TYPE*). The binding handle is not
     * a parameter on the wire. */
    NDR_PROCEDURE(0x48, 0, 16),
    FC_BIND_PRIMITIVE, 0x00, U16(0),
    OI2(0, 56, HAS_EXTENSIONS, 1),
    PARAM(OUT_REF, 8, T_CONTEXT_OPEN),

    /* 36: RemoteClose([in, out] PCONTEXT_HANDLE_TYPE*) */
    NDR_PROCEDURE(0x48, 1, 8),
    BIND_CONTEXT(CTX_CLOSE),
    OI2(56, 56, HAS_EXTENSIONS, 1),
    PARAM(IN_OUT_REF, 0, T_CONTEXT_CLOSE),

    /* 74: long NorvoStartSensor([in] PCONTEXT_HANDLE_TYPE, [in] hyper cookie) */
    NDR_PROCEDURE(0x48, 2, 24),
    BIND_CONTEXT(CTX_IN),
    OI2(40, 8, HAS_EXTENSIONS | HAS_RETURN, 3),
    PARAM(IN_CONTEXT, 0, T_CONTEXT_IN),
    PARAM_BASE(IN_BASE, 8, FC_HYPER),
    PARAM_BASE(RETURN_BASE, 16, FC_LONG),

    /* 124: long NorvoStopSensor([in] PCONTEXT_HANDLE_TYPE) */
    NDR_PROCEDURE(0x48, 3, 16),
    BIND_CONTEXT(CTX_IN),
    OI2(24, 8, HAS_EXTENSIONS | HAS_RETURN, 2),
    PARAM(IN_CONTEXT, 0, T_CONTEXT_IN),
    PARAM_BASE(RETURN_BASE, 8, FC_LONG),

    /* 168: long NorvoReceiveClientEvent([in] PCONTEXT_HANDLE_TYPE, [in] short size,
     * [in, size_is(size)] small data[]) */
    NDR_PROCEDURE(0x48, 4, 32),
    BIND_CONTEXT(CTX_IN),
    OI2(32, 8, HAS_EXTENSIONS | HAS_RETURN | CLIENT_MUST_SIZE, 4),
    PARAM(IN_CONTEXT, 0, T_CONTEXT_IN),
    PARAM_BASE(IN_BASE, 8, FC_SHORT),
    PARAM(IN_SIZED, 16, T_EVENT_BYTES),
    PARAM_BASE(RETURN_BASE, 24, FC_LONG),

    /* 224: long NorvoSetProperty([in] PCONTEXT_HANDLE_TYPE, [in] PROPERTY_KEY,
     * [in, ref] PROPERTY_BUFFER*) */
    NDR_PROCEDURE(0x48, 5, 32),
    BIND_CONTEXT(CTX_IN),
    OI2(32, 8, HAS_EXTENSIONS | HAS_RETURN | CLIENT_MUST_SIZE, 4),
    PARAM(IN_CONTEXT, 0, T_CONTEXT_IN),
    PARAM(IN_BY_VALUE, 8, T_PROPERTY_KEY),
    PARAM(IN_SIZED_REF, 16, T_PROPERTY_BUFFER),
    PARAM_BASE(RETURN_BASE, 24, FC_LONG),

    /* 280: long NorvoQueryProperty([in] PCONTEXT_HANDLE_TYPE, [in] PROPERTY_KEY,
     * [out] long* size, [in, out, ptr] PROPERTY_BUFFER*, [in, ptr] PROPERTY_BUFFER*).
     * Oi flags 0x49: full pointers. */
    NDR_PROCEDURE(0x49, 6, 48),
    BIND_CONTEXT(CTX_IN),
    OI2(32, 16, HAS_EXTENSIONS | HAS_RETURN | CLIENT_MUST_SIZE | SERVER_MUST_SIZE, 6),
    PARAM(IN_CONTEXT, 0, T_CONTEXT_IN),
    PARAM(IN_BY_VALUE, 8, T_PROPERTY_KEY),
    PARAM_BASE(OUT_BASE_ON_STACK, 16, FC_LONG),
    PARAM(IN_OUT_SIZED, 24, T_PROPERTY_BUFFER_FULL),
    PARAM(IN_SIZED, 32, T_PROPERTY_BUFFER_FULL),
    PARAM_BASE(RETURN_BASE, 40, FC_LONG),

    /* 348: callback 0, TapEvent([in] long kind, [in] hyper timestamp, [in] hyper cookie) */
    NDR_CALLBACK(0, 24),
    OI2(32, 0, HAS_EXTENSIONS, 3),
    PARAM_BASE(IN_BASE, 0, FC_LONG),
    PARAM_BASE(IN_BASE, 8, FC_HYPER),
    PARAM_BASE(IN_BASE, 16, FC_HYPER),

    /* 392: callback 1, SendClientEvent([in] short size, [in, size_is(size)] small data[],
     * [in] hyper cookie) */
    NDR_CALLBACK(1, 24),
    OI2(32, 0, HAS_EXTENSIONS | CLIENT_MUST_SIZE, 3),
    PARAM_BASE(IN_BASE, 0, FC_SHORT),
    PARAM(IN_SIZED, 8, T_CALLBACK_BYTES),
    PARAM_BASE(IN_BASE, 16, FC_HYPER),

    /* 436: callback 2, SensorStateChanged([in] hyper timestamp, [in] 16-bit enum state,
     * [in] hyper cookie) */
    NDR_CALLBACK(2, 24),
    OI2(32, 0, HAS_EXTENSIONS, 3),
    PARAM_BASE(IN_BASE, 0, FC_HYPER),
    PARAM_BASE(IN_BASE, 8, FC_ENUM16),
    PARAM_BASE(IN_BASE, 16, FC_HYPER),

    /* 480: callback 3, SignalReturn([in] long status, [in] hyper cookie) */
    NDR_CALLBACK(3, 16),
    OI2(24, 0, HAS_EXTENSIONS, 2),
    PARAM_BASE(IN_BASE, 0, FC_LONG),
    PARAM_BASE(IN_BASE, 8, FC_HYPER),

    0x00,
};

const unsigned short norvo_vtap_procedure_offsets[NORVO_VTAP_PROCEDURES] = {
    0, 36, 74, 124, 168, 224, 280,
};

const unsigned short norvo_vtap_callback_offsets[NORVO_VTAP_CALLBACKS] = {
    348, 392, 436, 480,
};

const unsigned norvo_vtap_proc_format_size = sizeof norvo_vtap_proc_format;
