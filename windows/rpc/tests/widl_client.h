/* widl's client stubs, generated from the IDL, with plain C types. */
#ifndef NORVO_WINDOWS_RPC_TESTS_WIDL_CLIENT_H
#define NORVO_WINDOWS_RPC_TESTS_WIDL_CLIENT_H

#ifdef __cplusplus
extern "C" {
#endif

long widl_set(void* context, long key, void* value);
long widl_query(void* context, long key, long* size, void* buffer, void* input);
long widl_receive(void* context, short size, signed char* data);
long widl_stop(void* context);
long widl_start(void* context, long long cookie);
void widl_close(void** context);

#ifdef __cplusplus
}
#endif

#endif
