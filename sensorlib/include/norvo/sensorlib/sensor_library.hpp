#pragma once
// The sensor library over the platform's Sensor API (COM): the service's
// SensorLibrary, and the COM apartment seam, both written once for every platform.

#include <expected>
#include <memory>

#include "norvo/sensorlib/com.hpp"
#include "norvo/sensors/sensor_library.hpp"
#include "norvo/service/runtime.hpp"

namespace norvo::sensorlib {

// Creates its managers from CLSID_SensorManager.
class ComSensorLibrary final : public sensors::SensorLibrary {
  public:
    [[nodiscard]] std::expected<std::unique_ptr<sensors::SensorManager>, sensors::SensorError>
    create_manager() override;
};

// A manager over an ISensorManager the caller already holds; it counts a reference of its own.
[[nodiscard]] std::expected<std::unique_ptr<sensors::SensorManager>, sensors::SensorError>
make_sensor_manager(ISensorManager& manager);

// The multithreaded apartment, joined and left on the calling thread.
class MtaApartment final : public service::ComApartment {
  public:
    [[nodiscard]] std::expected<void, sensors::PlatformError> initialize() override;
    void uninitialize() override;
};

}  // namespace norvo::sensorlib
