/* Runs a call that may raise an RPC runtime exception, and keeps the exception here. GCC
 * cannot compile __try, so this one file is built by clang. */

#include "norvo/windows/rpc/rpc_guard.h"

#include <windows.h>

int norvo_rpc_guard(void (*call)(void*), void* argument, unsigned long* raised_code) {
    __try {
        call(argument);
        return 0;
    } __except (*raised_code = GetExceptionCode(), EXCEPTION_EXECUTE_HANDLER) {
        return 1;
    }
}
