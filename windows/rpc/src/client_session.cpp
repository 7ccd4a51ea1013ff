#include "norvo/windows/rpc/client_session.hpp"

#include "norvo/windows/rpc/rpc_guard.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace norvo::windows::rpc {
namespace {

template <class Call>
[[nodiscard]] auto call(Call stub) -> Rpc<decltype(stub())> {
    using T = decltype(stub());
    if constexpr (std::is_void_v<T>) {
        return guarded(stub);
    } else {
        T value{};
        if (auto done = guarded([&] { value = stub(); }); !done)
            return std::unexpected(done.error());
        return value;
    }
}

// PROPERTY_BUFFER with `size` elements behind it.
std::vector<std::uint8_t> property_buffer(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> storage(offsetof(PROPERTY_BUFFER, data) +
                                      std::max<std::size_t>(data.size(), 1));
    const auto size = static_cast<std::uint16_t>(data.size());
    storage[0] = static_cast<std::uint8_t>(size);
    storage[1] = static_cast<std::uint8_t>(size >> 8);
    std::copy(data.begin(), data.end(), storage.begin() + offsetof(PROPERTY_BUFFER, data));
    return storage;
}

PROPERTY_BUFFER* as_buffer(std::vector<std::uint8_t>& storage) {
    return reinterpret_cast<PROPERTY_BUFFER*>(storage.data());
}

}  // namespace

Rpc<Binding> Binding::local(const std::wstring& endpoint) {
    wchar_t protseq[] = L"ncalrpc";
    std::wstring endpoint_text = endpoint;
    RPC_WSTR text = nullptr;
    if (auto s = RpcStringBindingComposeW(nullptr, reinterpret_cast<RPC_WSTR>(protseq), nullptr,
                                          reinterpret_cast<RPC_WSTR>(endpoint_text.data()), nullptr,
                                          &text);
        s != RPC_S_OK) {
        return std::unexpected(static_cast<std::uint32_t>(s));
    }
    handle_t handle = nullptr;
    const auto status = RpcBindingFromStringBindingW(text, &handle);
    RpcStringFreeW(&text);
    if (status != RPC_S_OK)
        return std::unexpected(static_cast<std::uint32_t>(status));
    return Binding(handle);
}

Binding::~Binding() {
    if (handle_)
        RpcBindingFree(&handle_);
}

Rpc<Session> Session::open(const Binding& binding) {
    PCONTEXT_HANDLE_TYPE context = nullptr;
    if (auto done = call([&] { vtap_c_RemoteOpen(binding.get(), &context); }); !done)
        return std::unexpected(done.error());
    return Session(context, true);
}

Session::~Session() {
    if (owned_ && context_)
        (void)close();
}

Rpc<void> Session::close() {
    return call([&] { vtap_c_RemoteClose(&context_); });
}

Rpc<long> Session::start(std::int64_t cookie) {
    return call([&] { return vtap_c_NorvoStartSensor(context_, cookie); });
}

Rpc<long> Session::stop() {
    return call([&] { return vtap_c_NorvoStopSensor(context_); });
}

Rpc<long> Session::receive(std::span<const std::uint8_t> packet) {
    std::vector<signed char> data(packet.begin(), packet.end());
    return call([&] {
        return vtap_c_NorvoReceiveClientEvent(context_, static_cast<short>(data.size()),
                                              data.data());
    });
}

Rpc<long> Session::set(long key, std::span<const std::uint8_t> value) {
    auto storage = property_buffer(value);
    return call(
        [&] { return vtap_c_NorvoSetProperty(context_, PROPERTY_KEY{key}, as_buffer(storage)); });
}

Rpc<QueryResult> Session::query(long key, std::optional<std::uint16_t> room,
                                std::optional<std::vector<std::uint8_t>> input) {
    std::optional<std::vector<std::uint8_t>> buffer;
    if (room)
        buffer = property_buffer(std::vector<std::uint8_t>(*room, 0));
    std::optional<std::vector<std::uint8_t>> input_buffer;
    if (input)
        input_buffer = property_buffer(*input);
    QueryResult out;
    auto result = call([&] {
        return vtap_c_NorvoQueryProperty(context_, PROPERTY_KEY{key}, &out.size,
                                         buffer ? as_buffer(*buffer) : nullptr,
                                         input_buffer ? as_buffer(*input_buffer) : nullptr);
    });
    if (!result)
        return std::unexpected(result.error());
    out.result = *result;
    if (buffer) {
        const auto* returned = as_buffer(*buffer);
        const auto* data = reinterpret_cast<const std::uint8_t*>(returned->data);
        out.buffer.assign(data, data + static_cast<std::uint16_t>(returned->size));
    }
    return out;
}

}  // namespace norvo::windows::rpc
