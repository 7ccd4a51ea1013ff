/* widl's client stubs of procedures 1-6, generated from the IDL, behind plain C types so that
 * their header stays out of the tests' way. RemoteOpen is left out: widl sends its binding
 * handle as a long. */

#include "norvo_vtap_procedures.h"

#include "widl_client.h"

long widl_set(void* context, long key, void* value) {
    PROPERTY_KEY k = {key};
    return widl_NorvoSetProperty(context, k, value);
}

long widl_query(void* context, long key, long* size, void* buffer, void* input) {
    PROPERTY_KEY k = {key};
    LONG length = 0;
    const long result = widl_NorvoQueryProperty(context, k, &length, buffer, input);
    *size = length;
    return result;
}

long widl_receive(void* context, short size, signed char* data) {
    return widl_NorvoReceiveClientEvent(context, size, (small*)data);
}

long widl_stop(void* context) {
    return widl_NorvoStopSensor(context);
}

long widl_start(void* context, long long cookie) {
    return widl_NorvoStartSensor(context, cookie);
}

void widl_close(void** context) {
    widl_RemoteClose(context);
}
