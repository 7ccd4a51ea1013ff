/* The interface's types and its stubs on both sides, in C. The service implements the
 * vtap_s_* routines and calls the vtap_cb_* callback stubs; a client (vtapctl.exe, the test
 * client) calls the vtap_c_* stubs and implements the vtap_client_* callbacks. */
#ifndef NORVO_WINDOWS_RPC_NORVO_VTAP_H
#define NORVO_WINDOWS_RPC_NORVO_VTAP_H

#include <rpc.h>
#include <rpcndr.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* PCONTEXT_HANDLE_TYPE;

typedef struct _PROPERTY_KEY {
    long key;
} PROPERTY_KEY;

typedef struct _PROPERTY_BUFFER {
    short size;
    signed char data[1]; /* conformant: `size` elements */
} PROPERTY_BUFFER;

typedef enum _NORVO_SENSOR_STATE {
    NorvoSensorStateReady = 0,
    NorvoSensorStateNotAvailable = 1,
    NorvoSensorStateNoData = 2,
    NorvoSensorStateInitializing = 3,
    NorvoSensorStateAccessDenied = 4,
    NorvoSensorStateError = 5
} NORVO_SENSOR_STATE;

/* The procedures' and the callbacks' signatures, under a prefix for each side. */
#define NORVO_VTAP_PROCEDURES_NAMED(prefix)                                                     \
    void prefix##RemoteOpen(handle_t binding, PCONTEXT_HANDLE_TYPE* context);                   \
    void prefix##RemoteClose(PCONTEXT_HANDLE_TYPE* context);                                    \
    long prefix##NorvoStartSensor(PCONTEXT_HANDLE_TYPE context, hyper cookie);                  \
    long prefix##NorvoStopSensor(PCONTEXT_HANDLE_TYPE context);                                 \
    long prefix##NorvoReceiveClientEvent(PCONTEXT_HANDLE_TYPE context, short size,              \
                                         signed char* data);                                    \
    long prefix##NorvoSetProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key,               \
                                  PROPERTY_BUFFER* value);                                      \
    long prefix##NorvoQueryProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key, long* size, \
                                    PROPERTY_BUFFER* buffer, PROPERTY_BUFFER* input);
#define NORVO_VTAP_CALLBACKS_NAMED(prefix)                                                    \
    void prefix##TapEvent(long kind, hyper timestamp, hyper cookie);                          \
    void prefix##SendClientEvent(short size, signed char* data, hyper cookie);                \
    void prefix##SensorStateChanged(hyper timestamp, NORVO_SENSOR_STATE state, hyper cookie); \
    void prefix##SignalReturn(long status, hyper cookie);

/* Service side: it implements the procedures and calls the callback stubs, which are valid
 * only on the thread of a NorvoStartSensor call in progress and raise the RPC runtime's
 * exception on failure. */
extern RPC_IF_HANDLE norvo_vtap_server_interface;
NORVO_VTAP_PROCEDURES_NAMED(vtap_s_)
void __RPC_USER PCONTEXT_HANDLE_TYPE_rundown(PCONTEXT_HANDLE_TYPE context);
NORVO_VTAP_CALLBACKS_NAMED(vtap_cb_)

/* Client side: the stubs raise the RPC runtime's exception on failure; the client implements
 * the callbacks. */
extern RPC_IF_HANDLE norvo_vtap_client_interface;
NORVO_VTAP_PROCEDURES_NAMED(vtap_c_)
NORVO_VTAP_CALLBACKS_NAMED(vtap_client_)

#ifdef __cplusplus
}
#endif

#endif
