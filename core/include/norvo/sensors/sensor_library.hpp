#pragma once
// The sensor library as the service sees it. The platform layers implement it
// over the Sensor API; tests and the replay tool script it.

#include "norvo/guid.hpp"
#include "norvo/sensors/sensor_error.hpp"
#include "norvo/sensors/types.hpp"

#include <expected>
#include <memory>

namespace norvo::sensors {

// Dropping it ends the subscription.
class SensorSubscription {
  public:
    virtual ~SensorSubscription() = default;
};

// Dropping it unregisters and releases; subscriptions may be dropped before or after it.
class SensorManager {
  public:
    virtual ~SensorManager() = default;
    // A sensor not present yet is no failure: the subscription waits for it to enter.
    [[nodiscard]] virtual std::expected<std::unique_ptr<SensorSubscription>, SensorError> subscribe(
        const Guid& sensor_id, SensorCallbacks callbacks) = 0;
};

class SensorLibrary {
  public:
    virtual ~SensorLibrary() = default;
    [[nodiscard]] virtual std::expected<std::unique_ptr<SensorManager>, SensorError>
    create_manager() = 0;
};

}  // namespace norvo::sensors
