#pragma once
// Stands in for the Sensor API library until it lands on Windows: every sensor
// start fails at once with a SensorError that says so.

#include "norvo/sensors/sensor_library.hpp"

namespace norvo::windows {

class SensorsPending final : public sensors::SensorLibrary {
  public:
    std::expected<std::unique_ptr<sensors::SensorManager>, sensors::SensorError> create_manager()
        override;
};

}  // namespace norvo::windows
