#include "norvo/windows/rpc/caller_quotas.hpp"

#include "norvo/fatal.hpp"

#include <rpc.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <memory>

namespace norvo::windows::rpc {
namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using TokenHandle = std::unique_ptr<void, HandleCloser>;

struct LocalFreer {
    void operator()(char* text) const noexcept { LocalFree(text); }
};

std::expected<service::AccountKey, DWORD> token_user(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0)
        return std::unexpected(GetLastError());
    std::vector<std::byte> buffer(size);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return std::unexpected(GetLastError());
    char* text = nullptr;
    if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return std::unexpected(GetLastError());
    std::unique_ptr<char, LocalFreer> owned(text);
    return service::AccountKey(text);
}

// Never destroyed: runtime threads may still finish a call while the process ends.
std::atomic<CallerQuotas*> g_quotas{nullptr};

}  // namespace

const Impersonation kRpcClient{
    .impersonate = [] { return static_cast<DWORD>(RpcImpersonateClient(nullptr)); },
    .revert = [] { return static_cast<DWORD>(RpcRevertToSelf()); },
};

CallerQuotas::CallerQuotas(const QuotaLimits& limits, Impersonation impersonation)
    : contexts("contexts", service::kContextsInAll, limits.contexts_per_user, limits.uncounted),
      starts("running starts", limits.starts, limits.starts_per_user, limits.uncounted),
      impersonation(impersonation),
      uncounted(limits.uncounted) {}

std::expected<service::AccountKey, DWORD> CallerQuotas::caller() const {
    return impersonated_account(impersonation);
}

std::string_view CallerQuotas::log_caller(const service::AccountKey& account) const {
    return std::ranges::find(uncounted, account) == uncounted.end() ? std::string_view(account)
                                                                    : std::string_view{};
}

std::expected<service::AccountKey, DWORD> impersonated_account(const Impersonation& impersonation) {
    if (const DWORD error = impersonation.impersonate(); error != 0)
        return std::unexpected(error);
    HANDLE token = nullptr;
    const bool opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
    const DWORD error = opened ? 0 : GetLastError();
    // A thread left impersonating would serve later calls as this client.
    if (impersonation.revert() != 0)
        fatal("RpcRevertToSelf failed: the thread still impersonates its client");
    if (!opened)
        return std::unexpected(error);
    TokenHandle owned(token);
    return token_user(token);
}

std::expected<service::AccountKey, DWORD> own_account() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return std::unexpected(GetLastError());
    TokenHandle owned(token);
    return token_user(token);
}

QuotaLimits service_limits() {
    QuotaLimits limits;
    limits.uncounted.emplace_back(kSystemAccount);
    if (auto own = own_account())
        limits.uncounted.push_back(std::move(*own));
    return limits;
}

CallerQuotas& caller_quotas() {
    if (auto* quotas = g_quotas.load())
        return *quotas;
    (void)install_caller_quotas(service_limits());
    return *g_quotas.load();
}

bool install_caller_quotas(const QuotaLimits& limits, Impersonation impersonation) {
    auto made = std::make_unique<CallerQuotas>(limits, impersonation);
    CallerQuotas* none = nullptr;
    if (!g_quotas.compare_exchange_strong(none, made.get()))
        return false;
    (void)made.release();
    return true;
}

}  // namespace norvo::windows::rpc
