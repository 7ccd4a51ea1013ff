// The service routines of the interface: MS-RPC parameters adapted to the portable
// procedures. A context handle's value is the address of its ClientContext. What a call
// logs counts towards its client's share of the log (log::CallerScope).

#include "norvo/log.hpp"
#include "norvo/service/client_callbacks.hpp"
#include "norvo/service/log_target.hpp"
#include "norvo/service/procedures.hpp"
#include "norvo/windows/rpc/caller_quotas.hpp"
#include "norvo/windows/rpc/context_leases.hpp"
#include "norvo/windows/rpc/norvo_vtap.h"
#include "norvo/windows/rpc/rpc_guard.h"

#include <fmt/format.h>

namespace {

using namespace norvo;
using windows::rpc::caller_quotas;
using windows::rpc::ContextLeases;
using windows::rpc::Lease;

ContextLeases& leases() {
    static ContextLeases instance;
    return instance;
}

// The callbacks of one NorvoStartSensor call, through the guard. The start's lease goes at
// the first callback: the start then holds the context's processing gate (or is on its way
// out), so a close can stop it and wait for it there.
class CurrentCallCallbacks final : public service::ClientCallbacks {
  public:
    explicit CurrentCallCallbacks(Lease& start_lease) : start_lease_(start_lease) {}

    service::CallbackResult tap_event(std::int32_t kind, std::uint64_t timestamp,
                                      std::uint64_t cookie) override {
        return call([=] { vtap_cb_TapEvent(kind, timestamp, cookie); });
    }

    service::CallbackResult send_client_event(std::span<const std::uint8_t> packet,
                                              std::uint64_t cookie) override {
        // The stub only reads the bytes; NDR declares them without const.
        auto* data = const_cast<signed char*>(reinterpret_cast<const signed char*>(packet.data()));
        const auto size = static_cast<short>(packet.size());
        return call([=] { vtap_cb_SendClientEvent(size, data, cookie); });
    }

    service::CallbackResult sensor_state_changed(std::uint64_t timestamp, std::uint16_t state,
                                                 std::uint64_t cookie) override {
        const auto value = static_cast<NORVO_SENSOR_STATE>(state);
        return call([=] { vtap_cb_SensorStateChanged(timestamp, value, cookie); });
    }

    service::CallbackResult signal_return(std::int32_t status, std::uint64_t cookie) override {
        return call([=] { vtap_cb_SignalReturn(status, cookie); });
    }

  private:
    template <class Stub>
    service::CallbackResult call(Stub stub) {
        start_lease_.release();
        if (auto done = windows::rpc::guarded(stub); !done) {
            return std::unexpected(
                service::CallbackFailure{fmt::format("RPC exception {}", done.error())});
        }
        return {};
    }

    Lease& start_lease_;
};

service::ClientContext& context_of(PCONTEXT_HANDLE_TYPE handle) {
    return *static_cast<service::ClientContext*>(handle);
}

// A call on a context that is being closed finds none.
template <class Run>
long with_context(PCONTEXT_HANDLE_TYPE handle, Run run) {
    Lease lease(leases(), handle);
    if (!lease)
        return service::hr::unexpected;
    const log::CallerScope caller(lease.caller());
    return run(context_of(handle));
}

// A caller whose token cannot be read (a client bound at the anonymous impersonation level)
// is no one: refused, so that no two users share one account's share.
std::expected<service::AccountKey, RPC_STATUS> caller() {
    auto account = caller_quotas().caller();
    if (!account)
        return std::unexpected(RPC_S_ACCESS_DENIED);
    return std::move(*account);
}

// A call past its user's quota is refused before anything changes.
std::expected<void, RPC_STATUS> open_context(PCONTEXT_HANDLE_TYPE& context) {
    const auto account = caller();
    if (!account)
        return std::unexpected(account.error());
    auto permit = caller_quotas().contexts.try_enter(*account);
    if (!permit)
        return std::unexpected(RPC_S_SERVER_TOO_BUSY);
    const auto owner = caller_quotas().log_caller(*account);
    const log::CallerScope scope(owner);
    service::ContextHandle handle;
    service::RemoteOpen(handle);
    leases().add(handle.get(), std::move(*permit), std::string(owner));
    context = handle.release();
    return {};
}

std::expected<long, RPC_STATUS> start_sensor(PCONTEXT_HANDLE_TYPE context, hyper cookie) {
    const auto account = caller();
    if (!account)
        return std::unexpected(account.error());
    const auto permit = caller_quotas().starts.try_enter(*account);
    if (!permit)
        return std::unexpected(RPC_S_SERVER_TOO_BUSY);
    // The run's lines too, all on this thread.
    const log::CallerScope lines(caller_quotas().log_caller(*account));
    Lease lease(leases(), context);
    if (!lease)
        return service::hr::unexpected;
    CurrentCallCallbacks callbacks(lease);
    service::CurrentCallScope scope(callbacks);
    return service::NorvoStartSensor(context_of(context), static_cast<std::uint64_t>(cookie));
}

// The NDR counts are shorts: a negative one is refused, never widened into a span of up to
// 65535 bytes past what the runtime received.
std::optional<std::span<std::uint8_t>> counted(signed char* data, short size, const char* what) {
    if (size < 0) {
        service::kLog.error("{}: negative size {} refused", what, size);
        return std::nullopt;
    }
    return std::span(reinterpret_cast<std::uint8_t*>(data), static_cast<std::size_t>(size));
}

}  // namespace

extern "C" {

// The exception is raised where nothing is left to destroy on the way out.
void vtap_s_RemoteOpen(handle_t, PCONTEXT_HANDLE_TYPE* context) {
    if (const auto opened = open_context(*context); !opened)
        RpcRaiseException(opened.error());
}

void vtap_s_RemoteClose(PCONTEXT_HANDLE_TYPE* context) {
    if (*context == nullptr) {
        service::ContextHandle none;
        return service::RemoteClose(none);
    }
    if (const auto owner = leases().close(*context)) {
        const log::CallerScope caller(*owner);
        service::ContextHandle handle(&context_of(*context));
        service::RemoteClose(handle);
    }
    *context = nullptr;
}

// No call is in progress: its lines are those of the client that opened the context.
void __RPC_USER PCONTEXT_HANDLE_TYPE_rundown(PCONTEXT_HANDLE_TYPE context) {
    if (const auto owner = leases().close(context)) {
        const log::CallerScope caller(*owner);
        service::PCONTEXT_HANDLE_TYPE_rundown(service::ContextHandle(&context_of(context)));
    }
}

long vtap_s_NorvoStartSensor(PCONTEXT_HANDLE_TYPE context, hyper cookie) {
    const auto started = start_sensor(context, cookie);
    if (!started)
        RpcRaiseException(started.error());
    return *started;
}

long vtap_s_NorvoStopSensor(PCONTEXT_HANDLE_TYPE context) {
    return with_context(context,
                        [](service::ClientContext& c) { return service::NorvoStopSensor(c); });
}

// The sizes are checked inside the lease, so that a refusal's line is the caller's.
long vtap_s_NorvoReceiveClientEvent(PCONTEXT_HANDLE_TYPE context, short size, signed char* data) {
    return with_context(context, [&](service::ClientContext& c) {
        const auto packet = counted(data, size, "NorvoReceiveClientEvent()");
        if (!packet)
            return service::hr::invalid_arg;
        return service::NorvoReceiveClientEvent(c, *packet);
    });
}

long vtap_s_NorvoSetProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key,
                             PROPERTY_BUFFER* value) {
    return with_context(context, [&](service::ClientContext& c) {
        const auto bytes = counted(value->data, value->size, "NorvoSetProperty()");
        if (!bytes)
            return service::hr::invalid_arg;
        return service::NorvoSetProperty(c, key.key, *bytes);
    });
}

long vtap_s_NorvoQueryProperty(PCONTEXT_HANDLE_TYPE context, PROPERTY_KEY key, long* size,
                               PROPERTY_BUFFER* buffer, PROPERTY_BUFFER* input) {
    *size = 0;  // [out]: goes back on every path, a refused or failed call included
    return with_context(context, [&](service::ClientContext& c) {
        std::optional<std::span<std::uint8_t>> room;
        std::optional<std::span<const std::uint8_t>> in;
        if (buffer && !(room = counted(buffer->data, buffer->size, "NorvoQueryProperty()"))) {
            buffer->size = 0;  // the reply is sized by it
            return service::hr::invalid_arg;
        }
        if (input && !(in = counted(input->data, input->size, "NorvoQueryProperty()")))
            return service::hr::invalid_arg;
        std::int32_t length = 0;
        const auto result = service::NorvoQueryProperty(c, key.key, length, room, in);
        *size = length;
        return result;
    });
}

}  // extern "C"
