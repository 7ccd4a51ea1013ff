#pragma once

#include <expected>

#include "norvo/sensors/sensor_error.hpp"
#include "registry.hpp"

namespace norvo::sensorlib {

// Reads the sensor's state and data fields, registers a new event sink with it, and
// stores sensor and sink in the entry (releasing what it held). Runs under the registry mutex.
[[nodiscard]] std::expected<void, sensors::SensorError> activate(const Guid& sensor_id,
                                                                 ISensor& sensor,
                                                                 SubscriptionEntry& entry);

sensors::SensorError win32_error(HRESULT code);

}  // namespace norvo::sensorlib
