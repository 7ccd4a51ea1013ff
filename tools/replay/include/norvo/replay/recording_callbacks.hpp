#pragma once
// The client side of a replay: answers every callback at once and writes it
// down as one transcript line.

#include "norvo/service/client_callbacks.hpp"

#include <string>
#include <vector>

namespace norvo::replay {

class RecordingCallbacks final : public service::ClientCallbacks {
  public:
    service::CallbackResult tap_event(std::int32_t kind, std::uint64_t timestamp,
                                      std::uint64_t cookie) override;
    service::CallbackResult send_client_event(std::span<const std::uint8_t> packet,
                                              std::uint64_t cookie) override;
    service::CallbackResult sensor_state_changed(std::uint64_t timestamp, std::uint16_t state,
                                                 std::uint64_t cookie) override;
    service::CallbackResult signal_return(std::int32_t status, std::uint64_t cookie) override;

    // Read once the start call that made the callbacks has returned.
    const std::vector<std::string>& transcript() const { return lines_; }

  private:
    std::vector<std::string> lines_;
};

}  // namespace norvo::replay
