/* The interface for a client in C or C++ (the service's side is in norvo_vtap.h): its types,
 * the vtap_c_* stubs of the seven procedures and the four vtap_client_* callbacks that the
 * client implements. Link libnorvo_vtap_client.a and rpcrt4. A stub raises the RPC runtime's
 * exception on failure: call it through norvo_rpc_guard (rpc_guard.h) from a compiler without
 * __try. The library's MIDL_user_allocate and MIDL_user_free use malloc and free. */
#ifndef NORVO_WINDOWS_RPC_NORVO_VTAP_CLIENT_H
#define NORVO_WINDOWS_RPC_NORVO_VTAP_CLIENT_H

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

/* Client side: the stubs raise the RPC runtime's exception on failure; the client implements
 * the callbacks. */
extern RPC_IF_HANDLE norvo_vtap_client_interface;
NORVO_VTAP_PROCEDURES_NAMED(vtap_c_)
NORVO_VTAP_CALLBACKS_NAMED(vtap_client_)

#ifdef __cplusplus
}
#endif

#endif
