#include "norvo/replay/recording_callbacks.hpp"

#include "norvo/tools/callback_text.hpp"

namespace norvo::replay {

service::CallbackResult RecordingCallbacks::tap_event(std::int32_t kind, std::uint64_t timestamp,
                                                      std::uint64_t cookie) {
    lines_.push_back(tools::tap_event_line(kind, timestamp, cookie));
    return {};
}

service::CallbackResult RecordingCallbacks::send_client_event(std::span<const std::uint8_t> packet,
                                                              std::uint64_t cookie) {
    lines_.push_back(tools::send_client_event_line(packet, cookie));
    return {};
}

service::CallbackResult RecordingCallbacks::sensor_state_changed(std::uint64_t timestamp,
                                                                 std::uint16_t state,
                                                                 std::uint64_t cookie) {
    lines_.push_back(tools::sensor_state_changed_line(timestamp, state, cookie));
    return {};
}

service::CallbackResult RecordingCallbacks::signal_return(std::int32_t status,
                                                          std::uint64_t cookie) {
    lines_.push_back(tools::signal_return_line(status, cookie));
    return {};
}

}  // namespace norvo::replay
