// vtapctl's connection on Windows: the interface's client stubs on the RPC runtime's local
// endpoint.

#include "windows_connection.hpp"

#include <cstdio>
#include <cstring>
#include <vector>

#include "norvo/mutex.hpp"
#include "norvo/windows/rpc/client_session.hpp"
#include "norvo/windows/win32.hpp"
#include "results.hpp"

namespace norvo::vtapctl {
namespace {

using windows::rpc::Rpc;

// The RPC runtime delivers a callback on the thread whose start call it belongs to.
thread_local Callbacks* t_callbacks = nullptr;

CallFailure failure(std::uint32_t code) {
    std::string message = windows::platform_error(code).message;
    return CallFailure{static_cast<std::int32_t>(code),
                       message.empty() ? "no system message" : std::move(message)};
}

PCONTEXT_HANDLE_TYPE native(const ContextHandle& context) {
    PCONTEXT_HANDLE_TYPE handle = nullptr;
    std::memcpy(&handle, context.bytes.data(), sizeof handle);
    return handle;
}

ContextHandle portable(PCONTEXT_HANDLE_TYPE handle) {
    ContextHandle context;
    std::memcpy(context.bytes.data(), &handle, sizeof handle);
    return context;
}

windows::rpc::Session on(const ContextHandle& context) {
    return windows::rpc::Session::borrow(native(context));
}

class RpcConnection final : public Connection {
  public:
    explicit RpcConnection(windows::rpc::Binding binding) : binding_(std::move(binding)) {}

    // Cancels the outstanding starts; the service runs their contexts down.
    void disconnect() override {
        MutexLock lock(starts_mutex_);
        for (const auto& thread : starts_) RpcCancelThreadEx(thread.get(), 0);
    }

    [[nodiscard]] Result<ContextHandle> RemoteOpen() override {
        auto opened = windows::rpc::Session::open(binding_);
        if (!opened)
            return std::unexpected(failure(opened.error()));
        return portable(opened->release());
    }
    [[nodiscard]] Result<void> RemoteClose(ContextHandle& context) override {
        auto session = on(context);
        auto closed = described(session.close(), failure);
        context = portable(session.handle());
        return closed;
    }
    [[nodiscard]] Result<HRESULT> NorvoStartSensor(const ContextHandle& context,
                                                   std::uint64_t cookie,
                                                   Callbacks& callbacks) override {
        const HANDLE self = this_thread();
        CallbackScope scope(callbacks);
        auto started = described(on(context).start(static_cast<std::int64_t>(cookie)), failure);
        forget(self);
        return started;
    }
    [[nodiscard]] Result<HRESULT> NorvoStopSensor(const ContextHandle& context) override {
        return described(on(context).stop(), failure);
    }
    [[nodiscard]] Result<HRESULT> NorvoReceiveClientEvent(
        const ContextHandle& context, std::span<const std::uint8_t> packet) override {
        return described(on(context).receive(packet), failure);
    }
    [[nodiscard]] Result<HRESULT> NorvoSetProperty(const ContextHandle& context, PropertyKey key,
                                                   std::span<const std::uint8_t> value) override {
        return described(on(context).set(key, value), failure);
    }
    [[nodiscard]] Result<QueryResult> NorvoQueryProperty(
        const ContextHandle& context, PropertyKey key, std::optional<std::uint16_t> room) override {
        auto out = on(context).query(key, room);
        if (!out)
            return std::unexpected(failure(out.error()));
        QueryResult query{out->result, out->size, std::nullopt};
        if (room)
            query.buffer = std::move(out->buffer);
        return query;
    }

  private:
    // The calling thread, kept while its start is outstanding so that disconnect can cancel it.
    HANDLE this_thread() {
        HANDLE thread = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0,
                        FALSE, DUPLICATE_SAME_ACCESS);
        MutexLock lock(starts_mutex_);
        starts_.emplace_back(thread);
        return thread;
    }
    void forget(HANDLE thread) {
        MutexLock lock(starts_mutex_);
        std::erase_if(starts_, [&](const auto& owned) { return owned.get() == thread; });
    }

    windows::rpc::Binding binding_;
    Mutex starts_mutex_;
    std::vector<windows::UniqueHandle> starts_ GUARDED_BY(starts_mutex_);
};

}  // namespace

CallbackScope::CallbackScope(Callbacks& callbacks)
    : outer_(std::exchange(t_callbacks, &callbacks)) {}

CallbackScope::~CallbackScope() {
    t_callbacks = outer_;
}

std::unique_ptr<Connection> connect(const std::optional<std::string>& endpoint) {
    const std::string name = endpoint.value_or("NorvoVxtRpcEndpoint");
    auto binding = windows::rpc::Binding::local(windows::to_wide(name));
    if (!binding) {
        std::fprintf(stderr, "vtapctl: cannot bind to the local endpoint %s: %s\n", name.c_str(),
                     rpc_error_text(failure(binding.error())).c_str());
        return nullptr;
    }
    return std::make_unique<RpcConnection>(std::move(*binding));
}

}  // namespace norvo::vtapctl

extern "C" {

void vtap_client_TapEvent(long kind, hyper timestamp, hyper cookie) {
    if (auto* callbacks = norvo::vtapctl::t_callbacks)
        callbacks->tap_event(static_cast<std::int32_t>(kind), static_cast<std::uint64_t>(timestamp),
                             static_cast<std::uint64_t>(cookie));
}

void vtap_client_SendClientEvent(short size, signed char* data, hyper cookie) {
    if (auto* callbacks = norvo::vtapctl::t_callbacks) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
        const auto count = static_cast<std::size_t>(size < 0 ? 0 : size);  // never widened
        callbacks->send_client_event({bytes, count}, static_cast<std::uint64_t>(cookie));
    }
}

void vtap_client_SensorStateChanged(hyper timestamp, NORVO_SENSOR_STATE state, hyper cookie) {
    if (auto* callbacks = norvo::vtapctl::t_callbacks)
        callbacks->sensor_state_changed(static_cast<std::uint64_t>(timestamp),
                                        static_cast<std::uint16_t>(state),
                                        static_cast<std::uint64_t>(cookie));
}

void vtap_client_SignalReturn(long status, hyper cookie) {
    if (auto* callbacks = norvo::vtapctl::t_callbacks)
        callbacks->signal_return(static_cast<std::int32_t>(status),
                                 static_cast<std::uint64_t>(cookie));
}

}  // extern "C"
