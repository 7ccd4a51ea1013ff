/* The byte-level pieces of the interface's format strings (Oicf, NDR 2.0, 64-bit, robust),
 * shared by ndr_formats.c and the tests' mirror of the callbacks, so that the two cannot
 * drift apart. */
#ifndef NORVO_WINDOWS_RPC_NDR_FORMAT_BYTES_H
#define NORVO_WINDOWS_RPC_NDR_FORMAT_BYTES_H

#include <rpc.h>
#include <rpcndr.h>
#include <ndrtypes.h>

/* Every stack offset below is an x64 slot (8 bytes a parameter). */
#if !defined(_WIN64)
#error "The interface's format strings describe the 64-bit stack only"
#endif

#define U16(v) (unsigned char)((v) & 0xff), (unsigned char)(((v) >> 8) & 0xff)
#define U32(v) U16((v) & 0xffff), U16(((v) >> 16) & 0xffff)

/* Procedure header: explicit handle, Oi flags, RPC flags, opnum, stack size. */
#define NDR_PROCEDURE(oi_flags, opnum, stack) 0x00, oi_flags, U32(0), U16(opnum), U16(stack)
/* The context handle bound to the call, at stack offset 0. */
#define BIND_CONTEXT(flags) FC_BIND_CONTEXT, flags, U16(0), 0x00, 0x00

/* Context flags: non-serialising on every handle. A procedure's header leaves out "cannot be
 * null", which its type entry carries. */
#define CTX_NOSERIALIZE NDR_CONTEXT_HANDLE_NOSERIALIZE
#define CTX_OPEN (HANDLE_PARAM_IS_VIA_PTR | HANDLE_PARAM_IS_OUT | CTX_NOSERIALIZE)
#define CTX_CLOSE \
    (HANDLE_PARAM_IS_VIA_PTR | HANDLE_PARAM_IS_IN | HANDLE_PARAM_IS_OUT | CTX_NOSERIALIZE)
#define CTX_CLOSE_TYPE (CTX_CLOSE | NDR_CONTEXT_HANDLE_CANNOT_BE_NULL)
#define CTX_IN_HEADER (HANDLE_PARAM_IS_IN | CTX_NOSERIALIZE)
#define CTX_IN (CTX_IN_HEADER | NDR_CONTEXT_HANDLE_CANNOT_BE_NULL)

/* Oi2 flags */
#define SERVER_MUST_SIZE 0x01
#define CLIENT_MUST_SIZE 0x02
#define HAS_RETURN 0x04
#define HAS_EXTENSIONS 0x40
/* Extension flags: every descriptor is a new (6-byte) correlation descriptor; a side that
 * checks correlations compares each array's count on the wire with the value it is tied to. */
#define NEW_CORR_DESC 0x01
#define CLIENT_CORR_CHECK 0x02
#define SERVER_CORR_CHECK 0x04
/* Correlation flags: the count travels before its array. */
#define CORR_EARLY 0x0001

/* Buffer sizes of the fixed part, Oi2 flags, parameter count, then the 64-bit extension:
 * its size, its flags, the client's and the server's correlation hints, the notify index
 * and the floating-point argument mask. */
#define OI2_EXT(client, server, flags, params, ext, client_hint, server_hint)                \
    U16(client), U16(server), (flags) | HAS_EXTENSIONS, params, 0x0a, NEW_CORR_DESC | (ext), \
        U16(client_hint), U16(server_hint), U16(0), U16(0)
/* No conformant data. */
#define OI2(client, server, flags, params) OI2_EXT(client, server, flags, params, 0, 0, 0)
/* Conformant [in] data, checked where it is received. */
#define OI2_CHECKED_IN(client, server, flags, params) \
    OI2_EXT(client, server, flags, params, SERVER_CORR_CHECK, 0, 1)
/* Conformant data both ways, checked on both sides; two [in] arrays on the server. */
#define OI2_CHECKED_IN_OUT(client, server, flags, params) \
    OI2_EXT(client, server, flags, params, SERVER_CORR_CHECK | CLIENT_CORR_CHECK, 1, 2)

#define PARAM_BASE(flags, stack, fc) U16(flags), U16(stack), fc, 0x00
#define PARAM(flags, stack, type) U16(flags), U16(stack), U16(type)

/* Parameter flags */
#define IN_BASE 0x48
#define RETURN_BASE 0x70
#define IN_CONTEXT 0x08
#define IN_SIZED 0x0b            /* must size, must free, in */
#define IN_OUT_SIZED 0x1b        /* must size, must free, in, out */
#define IN_BY_VALUE 0x8a         /* must free, in, by value */
#define OUT_REF 0x110            /* out, simple ref */
#define IN_OUT_REF 0x118         /* in, out, simple ref */
#define IN_SIZED_REF 0x10b       /* must size, must free, in, simple ref */
#define OUT_BASE_ON_STACK 0x2150 /* out, base type, simple ref, 8 bytes on the server's stack */

/* small[count], the count being a short: `where` is FC_TOP_LEVEL_CONFORMANCE (a parameter at
 * stack offset `offset`) or FC_NORMAL_CONFORMANCE (a field `offset` bytes from the array). */
#define SMALL_ARRAY_SIZED_BY_SHORT(where, offset)                                              \
    FC_CARRAY, 0x00, U16(1), (where) | FC_SHORT, 0x00, U16(offset), U16(CORR_EARLY), FC_SMALL, \
        FC_END

/* Type format offsets */
#define T_CONTEXT_OPEN 2
#define T_CONTEXT_CLOSE 6
#define T_CONTEXT_IN 10
#define T_EVENT_BYTES 14
#define T_PROPERTY_KEY 26
#define T_PROPERTY_BUFFER_DATA 32
#define T_PROPERTY_BUFFER 44
#define T_PROPERTY_BUFFER_FULL 52
#define T_CALLBACK_BYTES 56

/* Procedures 4, 5 and 6 with their stack size and type offsets given: the hostile tests' stubs
 * send the very same procedures, each array's count taken from a slot past the last parameter. */
#define NORVO_RECEIVE_CLIENT_EVENT_FORMAT(stack, context, bytes)                                \
    NDR_PROCEDURE(0x48, 4, stack), BIND_CONTEXT(CTX_IN_HEADER),                                 \
        OI2_CHECKED_IN(42, 8, HAS_RETURN | CLIENT_MUST_SIZE, 4), PARAM(IN_CONTEXT, 0, context), \
        PARAM_BASE(IN_BASE, 8, FC_SHORT), PARAM(IN_SIZED, 16, bytes),                           \
        PARAM_BASE(RETURN_BASE, 24, FC_LONG)
#define NORVO_SET_PROPERTY_FORMAT(stack, context, key, buffer)                                  \
    NDR_PROCEDURE(0x48, 5, stack), BIND_CONTEXT(CTX_IN_HEADER),                                 \
        OI2_CHECKED_IN(32, 8, HAS_RETURN | CLIENT_MUST_SIZE, 4), PARAM(IN_CONTEXT, 0, context), \
        PARAM(IN_BY_VALUE, 8, key), PARAM(IN_SIZED_REF, 16, buffer),                            \
        PARAM_BASE(RETURN_BASE, 24, FC_LONG)
/* Oi flags 0x49: full pointers. */
#define NORVO_QUERY_PROPERTY_FORMAT(stack, context, key, full_buffer)                     \
    NDR_PROCEDURE(0x49, 6, stack), BIND_CONTEXT(CTX_IN_HEADER),                           \
        OI2_CHECKED_IN_OUT(32, 16, HAS_RETURN | CLIENT_MUST_SIZE | SERVER_MUST_SIZE, 6),  \
        PARAM(IN_CONTEXT, 0, context), PARAM(IN_BY_VALUE, 8, key),                        \
        PARAM_BASE(OUT_BASE_ON_STACK, 16, FC_LONG), PARAM(IN_OUT_SIZED, 24, full_buffer), \
        PARAM(IN_SIZED, 32, full_buffer), PARAM_BASE(RETURN_BASE, 40, FC_LONG)

/* The callbacks' table is laid out by hand, a comment per entry. */
/* clang-format off */
/* The four callbacks, one after the other, behind the handle byte of each header. Offsets
 * of each from the first: */
#define CALLBACK_AT_0 0
#define CALLBACK_AT_1 44
#define CALLBACK_AT_2 88
#define CALLBACK_AT_3 132
#define CALLBACK_HEADER(handle, opnum, stack) handle, 0x48, U32(0), U16(opnum), U16(stack)
#define NORVO_VTAP_CALLBACK_FORMATS(handle)                                                    \
    /* 0: TapEvent([in] long kind, [in] hyper timestamp, [in] hyper cookie) */                 \
    CALLBACK_HEADER(handle, 0, 24), OI2(40, 0, 0, 3), PARAM_BASE(IN_BASE, 0, FC_LONG),        \
        PARAM_BASE(IN_BASE, 8, FC_HYPER), PARAM_BASE(IN_BASE, 16, FC_HYPER),                  \
        /* 44: SendClientEvent([in] short size, [in, size_is(size)] small data[],             \
         * [in] hyper cookie) */                                                               \
        CALLBACK_HEADER(handle, 1, 24), OI2_CHECKED_IN(22, 0, CLIENT_MUST_SIZE, 3),           \
        PARAM_BASE(IN_BASE, 0, FC_SHORT), PARAM(IN_SIZED, 8, T_CALLBACK_BYTES),               \
        PARAM_BASE(IN_BASE, 16, FC_HYPER),                                                    \
        /* 88: SensorStateChanged([in] hyper timestamp, [in] 16-bit enum state,               \
         * [in] hyper cookie) */                                                               \
        CALLBACK_HEADER(handle, 2, 24), OI2(32, 0, 0, 3), PARAM_BASE(IN_BASE, 0, FC_HYPER),   \
        PARAM_BASE(IN_BASE, 8, FC_ENUM16), PARAM_BASE(IN_BASE, 16, FC_HYPER),                 \
        /* 132: SignalReturn([in] long status, [in] hyper cookie) */                           \
        CALLBACK_HEADER(handle, 3, 16), OI2(24, 0, 0, 2), PARAM_BASE(IN_BASE, 0, FC_LONG),    \
        PARAM_BASE(IN_BASE, 8, FC_HYPER)
/* clang-format on */

#endif
