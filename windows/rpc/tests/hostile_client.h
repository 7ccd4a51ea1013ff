/* Client stubs that send a count that disagrees with its array: `count` elements travel
 * while the size says otherwise. Like the test client's, they raise the runtime's exception
 * on failure. */
#ifndef NORVO_WINDOWS_RPC_TESTS_HOSTILE_CLIENT_H
#define NORVO_WINDOWS_RPC_TESTS_HOSTILE_CLIENT_H

#include "norvo/windows/rpc/norvo_vtap.h"

#ifdef __cplusplus
extern "C" {
#endif

long hostile_NorvoReceiveClientEvent(PCONTEXT_HANDLE_TYPE context, short size, signed char* data,
                                     short count);
long hostile_NorvoSetProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key,
                              PROPERTY_BUFFER* value, short count);
/* No input buffer; `buffer` must have room for whatever comes back. */
long hostile_NorvoQueryProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key, long* size,
                                PROPERTY_BUFFER* buffer, short count);
/* Callback 1 of the mirror interface (callback_mirror.h). */
void hostile_SendClientEvent(handle_t mirror, short size, signed char* data, hyper cookie,
                             short count);

#ifdef __cplusplus
}
#endif

#endif
