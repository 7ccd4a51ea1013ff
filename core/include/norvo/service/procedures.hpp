#pragma once
// The seven procedures of the interface as plain entry points. A transport
// unmarshals a call and invokes these; their results go back unchanged.

#include "norvo/service/client_context.hpp"
#include "norvo/service/hresult.hpp"
#include "norvo/service/properties.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace norvo::service {

using ContextHandle = std::unique_ptr<ClientContext>;

// opnum 0
void RemoteOpen(ContextHandle& out);
// opnum 1: stops a running start, waits for it, destroys the context, nulls the handle.
void RemoteClose(ContextHandle& handle);
// The client went away holding the handle.
void PCONTEXT_HANDLE_TYPE_rundown(ContextHandle context);

// opnum 2: blocks for the whole sensor run; callbacks go to the call bound to this thread.
[[nodiscard]] HRESULT NorvoStartSensor(ClientContext& context, std::uint64_t cookie);
// opnum 3
[[nodiscard]] HRESULT NorvoStopSensor(ClientContext& context);
// opnum 4
[[nodiscard]] HRESULT NorvoReceiveClientEvent(ClientContext& context,
                                              std::span<const std::uint8_t> packet);
// opnum 5
[[nodiscard]] HRESULT NorvoSetProperty(ClientContext& context, PropertyKey key,
                                       std::span<const std::uint8_t> value);
// opnum 6: `buffer` is the caller's PROPERTY_BUFFER (its span size is the room offered);
// `input` is accepted and not read.
[[nodiscard]] HRESULT NorvoQueryProperty(
    ClientContext& context, PropertyKey key, std::int32_t& size,
    std::optional<std::span<std::uint8_t>> buffer,
    std::optional<std::span<const std::uint8_t>> input = std::nullopt);

}  // namespace norvo::service
