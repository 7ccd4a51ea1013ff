#pragma once
// The platform as a replay scripts it: a COM apartment that always joins, and a
// sensor library whose tap sensor is present and delivers whatever the driver
// tells it to, through the callbacks of the live subscription.

#include "norvo/cell.hpp"
#include "norvo/sensors/sensor_library.hpp"
#include "norvo/service/runtime.hpp"

#include <functional>
#include <memory>

namespace norvo::replay {

// Where the scripted tap sensor delivers: the subscriber's callbacks while subscribed.
class SensorPort {
  public:
    void attach(sensors::SensorCallbacks callbacks);
    void detach();
    // Calls `deliver` with the subscriber's callbacks, outside any lock, as a
    // sensor thread would. False when nobody is subscribed.
    bool deliver(const std::function<void(const sensors::SensorCallbacks&)>& deliver) const;

  private:
    Cell<std::shared_ptr<const sensors::SensorCallbacks>> callbacks_;
};

class ScriptedSensorLibrary final : public sensors::SensorLibrary {
  public:
    explicit ScriptedSensorLibrary(std::shared_ptr<SensorPort> port) : port_(std::move(port)) {}
    [[nodiscard]] std::expected<std::unique_ptr<sensors::SensorManager>, sensors::SensorError>
    create_manager() override;

  private:
    std::shared_ptr<SensorPort> port_;
};

class ScriptedCom final : public service::ComApartment {
  public:
    [[nodiscard]] std::expected<void, sensors::PlatformError> initialize() override { return {}; }
    void uninitialize() override {}
};

}  // namespace norvo::replay
