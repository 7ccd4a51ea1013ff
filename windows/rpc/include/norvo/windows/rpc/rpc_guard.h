/* The one place where exceptions of the RPC runtime are caught. */
#ifndef NORVO_WINDOWS_RPC_RPC_GUARD_H
#define NORVO_WINDOWS_RPC_RPC_GUARD_H

#ifdef __cplusplus
extern "C" {
#endif

/* Calls call(argument): 0 when it returned, 1 when it raised any exception, whose code is
 * then stored in *raised_code. */
int norvo_rpc_guard(void (*call)(void*), void* argument, unsigned long* raised_code);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <cstdint>
#include <expected>

namespace norvo::windows::rpc {

// The exception code when `call` raised one.
template <class Call>
[[nodiscard]] std::expected<void, std::uint32_t> guarded(Call call) {
    unsigned long code = 0;
    auto thunk = [](void* argument) { (*static_cast<Call*>(argument))(); };
    if (norvo_rpc_guard(thunk, &call, &code) != 0)
        return std::unexpected(static_cast<std::uint32_t>(code));
    return {};
}

}  // namespace norvo::windows::rpc
#endif

#endif
