#pragma once

#include "norvo/channel.hpp"
#include "norvo/sensors/types.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace norvo::service {

// The most sensor messages a run holds for its loop. A loop that keeps up takes
// each message before the next arrives; 1024 is over a second of reports at 1000
// a second and minutes of human tapping, yet holds only about 250 KiB (about 250
// bytes a report) behind a client that has stopped answering.
inline constexpr std::size_t kSensorQueueCapacity = 1024;

// Callables that post each sensor event on the loop's channel. Posting never
// blocks: on a full channel the message is dropped and counted in `dropped`, and
// each burst of drops is logged once at Warn with its count, when the channel
// takes a message again or the callables go. Once the loop is gone, messages are
// dropped without a word.
sensors::SensorCallbacks make_sensor_callbacks(
    const channel::Sender<sensors::SensorMessage>& sender,
    std::shared_ptr<std::atomic<std::uint64_t>> dropped =
        std::make_shared<std::atomic<std::uint64_t>>(0));

}  // namespace norvo::service
