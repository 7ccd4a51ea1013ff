#pragma once
// The service control handler's logic: decode, log, forward to the run loop, answer.

#include <cstdint>
#include <optional>

#include "norvo/host/blocking_channel.hpp"
#include "norvo/host/control_event.hpp"

namespace norvo::host {

inline constexpr std::size_t kControlChannelCapacity = 1;

// Answers to the service control manager.
inline constexpr std::uint32_t kNoError = 0;
inline constexpr std::uint32_t kCallNotImplemented = 120;

class ControlHandler {
  public:
    explicit ControlHandler(BlockingSender<ControlEvent> events) : events_(std::move(events)) {}

    // Runs on the dispatcher thread, one call at a time. Waits while the run loop
    // has not yet taken the previous event.
    std::uint32_t handle(std::uint32_t control, std::uint32_t event_type, const void* event_data);

  private:
    // Released after the first Stop, Shutdown or Preshutdown, which closes the channel.
    std::optional<BlockingSender<ControlEvent>> events_;
};

}  // namespace norvo::host
