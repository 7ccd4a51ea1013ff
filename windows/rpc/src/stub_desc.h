/* The stub descriptor both sides fill the same way, bar the interface it names. */
#ifndef NORVO_WINDOWS_RPC_STUB_DESC_H
#define NORVO_WINDOWS_RPC_STUB_DESC_H

#include "norvo/windows/rpc/ndr_formats.h"

/* `handle`: where an implicit binding handle lives, if the procedures use one. */
#define NORVO_STUB_DESC(interface, handle, rundowns, types) \
    {(void*)(interface),                                    \
     MIDL_user_allocate,                                    \
     MIDL_user_free,                                        \
     {handle},                                              \
     rundowns,                                              \
     0,                                                     \
     0,                                                     \
     0,                                                     \
     types,                                                 \
     1,       /* bounds checking */                         \
     0x50002, /* NDR library version */                     \
     0,                                                     \
     0x801026e, /* MIDL version */                          \
     0,                                                     \
     0,                                                     \
     0,                                                     \
     1, /* flags */                                         \
     0,                                                     \
     0,                                                     \
     0}
#define NORVO_VTAP_STUB_DESC(interface, rundowns) \
    NORVO_STUB_DESC(interface, 0, rundowns, norvo_vtap_type_format)

/* An interface whose procedures the interpreter dispatches (dispatch and info may be 0). */
#define NORVO_INTERFACE(type, id, dispatch, info, flags) \
    {sizeof(type), id, NORVO_NDR20_SYNTAX, dispatch, 0, 0, 0, info, flags}
#define NORVO_SERVER_INFO(desc, routines, format, offsets) \
    {desc, routines, format, offsets, 0, 0, 0, 0}
/* Four opnums through NdrServerCall2. */
#define NORVO_DISPATCH_4 NdrServerCall2, NdrServerCall2, NdrServerCall2, NdrServerCall2

/* Through void (*)(void), which GCC lets stand for any function type. */
#define ROUTINE(f) ((SERVER_ROUTINE)(void (*)(void))(f))

#define NORVO_VTAP_INTERFACE_ID \
    {{0x44d85f25, 0x964b, 0x4cbd, {0x9e, 0xa5, 0x83, 0x45, 0xa2, 0xa5, 0xc2, 0x05}}, {1, 0}}
#define NORVO_NDR20_SYNTAX \
    {{0x8a885d04, 0x1ceb, 0x11c9, {0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60}}, {2, 0}}

#endif
