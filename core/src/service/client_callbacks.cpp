#include "norvo/service/client_callbacks.hpp"

namespace norvo::service {
namespace {

thread_local ClientCallbacks* t_current_call = nullptr;

template <class Call>
std::int32_t guarded(Call&& call) noexcept {
    if (t_current_call == nullptr)
        return 1;
    try {
        return call(*t_current_call).has_value() ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

}  // namespace

CurrentCallScope::CurrentCallScope(ClientCallbacks& callbacks) : previous_(t_current_call) {
    t_current_call = &callbacks;
}

CurrentCallScope::~CurrentCallScope() {
    t_current_call = previous_;
}

std::int32_t SafeNorvoTapEvent(std::int32_t kind, std::uint64_t timestamp,
                               std::uint64_t cookie) noexcept {
    return guarded([&](ClientCallbacks& c) { return c.tap_event(kind, timestamp, cookie); });
}

std::int32_t SafeNorvoSendClientEvent(std::uint16_t size, const std::uint8_t* data,
                                      std::uint64_t cookie) noexcept {
    return guarded([&](ClientCallbacks& c) {
        return c.send_client_event(std::span<const std::uint8_t>(data, size), cookie);
    });
}

std::int32_t SafeNorvoSensorStateChanged(std::uint64_t timestamp, std::uint16_t state,
                                         std::uint64_t cookie) noexcept {
    return guarded(
        [&](ClientCallbacks& c) { return c.sensor_state_changed(timestamp, state, cookie); });
}

std::int32_t SafeNorvoSignalReturn(std::int32_t status, std::uint64_t cookie) noexcept {
    return guarded([&](ClientCallbacks& c) { return c.signal_return(status, cookie); });
}

}  // namespace norvo::service
