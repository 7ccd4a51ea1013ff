#pragma once

#include "norvo/channel.hpp"
#include "norvo/sensors/types.hpp"

namespace norvo::service {

// Callables that post each sensor event on the loop's channel. Posting never
// blocks; once the loop is gone, messages are dropped without a word.
sensors::SensorCallbacks make_sensor_callbacks(const channel::Sender<sensors::SensorMessage>& sender);

}  // namespace norvo::service
