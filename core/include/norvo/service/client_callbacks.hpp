#pragma once
// The four callbacks to the client. A transport provides them for the call in
// progress, as the RPC runtime does: they reach the client only from the thread
// of an outstanding NorvoStartSensor call.

#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace norvo::service {

struct CallbackFailure {
    std::string reason;
};

using CallbackResult = std::expected<void, CallbackFailure>;

class ClientCallbacks {
  public:
    virtual ~ClientCallbacks() = default;
    // Each call waits for the client's answer. Implementations may also throw.
    [[nodiscard]] virtual CallbackResult tap_event(std::int32_t kind, std::uint64_t timestamp,
                                                   std::uint64_t cookie) = 0;
    [[nodiscard]] virtual CallbackResult send_client_event(std::span<const std::uint8_t> packet,
                                                           std::uint64_t cookie) = 0;
    [[nodiscard]] virtual CallbackResult sensor_state_changed(std::uint64_t timestamp,
                                                              std::uint16_t state,
                                                              std::uint64_t cookie) = 0;
    [[nodiscard]] virtual CallbackResult signal_return(std::int32_t status,
                                                       std::uint64_t cookie) = 0;
};

// Binds `callbacks` to the calling thread for this object's lifetime: the
// transport opens one around each NorvoStartSensor dispatch.
class CurrentCallScope {
  public:
    explicit CurrentCallScope(ClientCallbacks& callbacks);
    ~CurrentCallScope();
    CurrentCallScope(const CurrentCallScope&) = delete;
    CurrentCallScope& operator=(const CurrentCallScope&) = delete;

  private:
    ClientCallbacks* previous_;
};

// Guarded wrappers: 0 when the call completed, 1 when it failed in any way
// (no call in progress on this thread, the client gone, an exception). Nothing escapes.
std::int32_t SafeNorvoTapEvent(std::int32_t kind, std::uint64_t timestamp,
                               std::uint64_t cookie) noexcept;
std::int32_t SafeNorvoSendClientEvent(std::uint16_t size, const std::uint8_t* data,
                                      std::uint64_t cookie) noexcept;
std::int32_t SafeNorvoSensorStateChanged(std::uint64_t timestamp, std::uint16_t state,
                                         std::uint64_t cookie) noexcept;
std::int32_t SafeNorvoSignalReturn(std::int32_t status, std::uint64_t cookie) noexcept;

}  // namespace norvo::service
