/* The four callbacks as ordinary procedures of a test-only interface, so that an NDR engine
 * that cannot deliver callbacks still reads their format strings: the same parameter and
 * type descriptors, an implicit binding handle instead of the callback handle. The test
 * process serves it, dispatching to the test client's callback routines. */
#ifndef NORVO_WINDOWS_RPC_TESTS_CALLBACK_MIRROR_H
#define NORVO_WINDOWS_RPC_TESTS_CALLBACK_MIRROR_H

#include "norvo/windows/rpc/ndr_formats.h"
#include "norvo/windows/rpc/norvo_vtap.h"

#ifdef __cplusplus
extern "C" {
#endif

#define NORVO_MIRROR_INTERFACE_ID \
    {{0x5c1f3a70, 0x2d4e, 0x4b8a, {0x9a, 0x61, 0x3e, 0x27, 0xc4, 0x80, 0x11, 0x9d}}, {1, 0}}

extern RPC_IF_HANDLE norvo_mirror_server_interface;
extern const unsigned char norvo_mirror_proc_format[];
extern const unsigned short norvo_mirror_offsets[NORVO_VTAP_CALLBACKS];
/* The binding the mirror's client stubs call through. */
extern handle_t norvo_mirror_binding;
NORVO_VTAP_CALLBACKS_NAMED(mirror_)

#ifdef __cplusplus
}
#endif

#endif
