/* The interface's types and its stubs on both sides, in C. The service implements the
 * vtap_s_* routines and calls the vtap_cb_* callback stubs; the test client calls the
 * vtap_c_* stubs and implements the vtap_client_* callbacks. */
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

/* Service side. */
extern RPC_IF_HANDLE norvo_vtap_server_interface;
void vtap_s_RemoteOpen(handle_t binding, PCONTEXT_HANDLE_TYPE* context);
void vtap_s_RemoteClose(PCONTEXT_HANDLE_TYPE* context);
long vtap_s_NorvoStartSensor(PCONTEXT_HANDLE_TYPE context, hyper cookie);
long vtap_s_NorvoStopSensor(PCONTEXT_HANDLE_TYPE context);
long vtap_s_NorvoReceiveClientEvent(PCONTEXT_HANDLE_TYPE context, short size, signed char* data);
long vtap_s_NorvoSetProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key, PROPERTY_BUFFER* value);
long vtap_s_NorvoQueryProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key, long* size,
                               PROPERTY_BUFFER* buffer, PROPERTY_BUFFER* input);
void __RPC_USER PCONTEXT_HANDLE_TYPE_rundown(PCONTEXT_HANDLE_TYPE context);
/* Callback stubs: valid only on the thread of a NorvoStartSensor call in progress; they
 * raise the RPC runtime's exception on failure. */
void vtap_cb_TapEvent(long kind, hyper timestamp, hyper cookie);
void vtap_cb_SendClientEvent(short size, signed char* data, hyper cookie);
void vtap_cb_SensorStateChanged(hyper timestamp, NORVO_SENSOR_STATE state, hyper cookie);
void vtap_cb_SignalReturn(long status, hyper cookie);

/* Client side: the stubs raise the RPC runtime's exception on failure. */
extern RPC_IF_HANDLE norvo_vtap_client_interface;
void vtap_c_RemoteOpen(handle_t binding, PCONTEXT_HANDLE_TYPE* context);
void vtap_c_RemoteClose(PCONTEXT_HANDLE_TYPE* context);
long vtap_c_NorvoStartSensor(PCONTEXT_HANDLE_TYPE context, hyper cookie);
long vtap_c_NorvoStopSensor(PCONTEXT_HANDLE_TYPE context);
long vtap_c_NorvoReceiveClientEvent(PCONTEXT_HANDLE_TYPE context, short size, signed char* data);
long vtap_c_NorvoSetProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key, PROPERTY_BUFFER* value);
long vtap_c_NorvoQueryProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key, long* size,
                               PROPERTY_BUFFER* buffer, PROPERTY_BUFFER* input);
void vtap_client_TapEvent(long kind, hyper timestamp, hyper cookie);
void vtap_client_SendClientEvent(short size, signed char* data, hyper cookie);
void vtap_client_SensorStateChanged(hyper timestamp, NORVO_SENSOR_STATE state, hyper cookie);
void vtap_client_SignalReturn(long status, hyper cookie);

#ifdef __cplusplus
}
#endif

#endif
