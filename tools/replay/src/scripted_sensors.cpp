#include "norvo/replay/scripted_sensors.hpp"

#include "norvo/sensors/tap_sensor.hpp"

namespace norvo::replay {
namespace {

class ScriptedSubscription final : public sensors::SensorSubscription {
  public:
    explicit ScriptedSubscription(std::shared_ptr<SensorPort> port) : port_(std::move(port)) {}
    ~ScriptedSubscription() override {
        if (port_)
            port_->detach();
    }

  private:
    std::shared_ptr<SensorPort> port_;  // null for a sensor that never comes
};

class ScriptedManager final : public sensors::SensorManager {
  public:
    explicit ScriptedManager(std::shared_ptr<SensorPort> port) : port_(std::move(port)) {}

    // Any other sensor ID is a sensor that is never present: the subscription waits forever.
    [[nodiscard]] std::expected<std::unique_ptr<sensors::SensorSubscription>, sensors::SensorError>
    subscribe(const Guid& sensor_id, sensors::SensorCallbacks callbacks) override {
        if (sensor_id != sensors::tap_sensor::kSensorId) {
            return std::make_unique<ScriptedSubscription>(nullptr);
        }
        port_->attach(std::move(callbacks));
        return std::make_unique<ScriptedSubscription>(port_);
    }

  private:
    std::shared_ptr<SensorPort> port_;
};

}  // namespace

void SensorPort::attach(sensors::SensorCallbacks callbacks) {
    callbacks_.set(std::make_shared<const sensors::SensorCallbacks>(std::move(callbacks)));
}

void SensorPort::detach() {
    callbacks_.set(nullptr);
}

bool SensorPort::deliver(
    const std::function<void(const sensors::SensorCallbacks&)>& deliver) const {
    auto callbacks = callbacks_.get();
    if (!callbacks)
        return false;
    deliver(*callbacks);
    return true;
}

std::expected<std::unique_ptr<sensors::SensorManager>, sensors::SensorError>
ScriptedSensorLibrary::create_manager() {
    return std::make_unique<ScriptedManager>(port_);
}

}  // namespace norvo::replay
