/* The stubs' memory: the C heap, not cleared. Null when exhausted; the runtime then fails
 * the call. */

#include <rpc.h>
#include <rpcndr.h>
#include <stdlib.h>

void* __RPC_USER MIDL_user_allocate(size_t size) {
    return malloc(size);
}

void __RPC_USER MIDL_user_free(void* pointer) {
    free(pointer);
}
