// The SensorManager and its subscriptions over an ISensorManager.

#include "activate.hpp"
#include "convert.hpp"
#include "log_target.hpp"
#include "manager_event_sink.hpp"
#include "norvo/mutex.hpp"
#include "norvo/sensorlib/platform_error.hpp"
#include "norvo/sensorlib/sensor_library.hpp"

namespace norvo::sensorlib {
namespace {

using sensors::SensorError;

class ComSubscription final : public sensors::SensorSubscription {
  public:
    ComSubscription(std::shared_ptr<SubscriptionRegistry> registry, const Guid& sensor_id)
        : registry_(std::move(registry)), sensor_id_(sensor_id) {}

    ~ComSubscription() override {
        kLog.trace("Dropping subscription for sensor {}", sensor_id_);
        MutexLock lock(registry_->mutex);
        auto node = registry_->entries.extract(sensor_id_);
        if (node.empty())
            return;
        SubscriptionEntry& entry = node.mapped();
        if (entry.sensor) {
            if (const HRESULT hr = entry.sensor->SetEventSink(nullptr); FAILED(hr)) {
                kLog.error("Failed to unregister event sink on drop for {}: {}", sensor_id_,
                           Displayed{platform_error(hr)});
            }
            entry.sensor.reset();
            entry.sink.reset();
        }
    }

  private:
    std::shared_ptr<SubscriptionRegistry> registry_;
    Guid sensor_id_;
};

class ComSensorManager final : public sensors::SensorManager {
  public:
    ComSensorManager(ComPtr<ISensorManager> manager, std::shared_ptr<SubscriptionRegistry> registry,
                     ComPtr<ISensorManagerEvents> manager_sink)
        : manager_(std::move(manager)),
          registry_(std::move(registry)),
          manager_sink_(std::move(manager_sink)) {}

    ~ComSensorManager() override {
        kLog.trace("Dropping SensorManager");
        if (const HRESULT hr = manager_->SetEventSink(nullptr); FAILED(hr)) {
            kLog.error("Failed to unregister manager event sink on drop: {}", platform_error(hr));
        }
        // Entries still registered keep their sensors and sinks until their handles go.
        manager_.reset();
        registry_.reset();
        manager_sink_.reset();
    }

    [[nodiscard]] std::expected<std::unique_ptr<sensors::SensorSubscription>, SensorError>
    subscribe(const Guid& sensor_id, sensors::SensorCallbacks callbacks) override {
        MutexLock lock(registry_->mutex);
        if (registry_->entries.contains(sensor_id)) {
            return std::unexpected(SensorError{SensorError::Kind::AlreadySubscribed});
        }
        SubscriptionEntry entry{
            std::make_shared<const sensors::SensorCallbacks>(std::move(callbacks)), {}, {}};

        ComPtr<ISensor> sensor;
        if (FAILED(manager_->GetSensorByID(to_platform(sensor_id), sensor.put())) || !sensor) {
            kLog.debug("Sensor {} not immediately available. Waiting for OnSensorEnter.",
                       sensor_id);
        } else {
            kLog.debug("Sensor {} found immediately, activating.", sensor_id);
            auto activated = activate(sensor_id, *sensor, entry);
            sensor.reset();
            if (!activated)
                return std::unexpected(activated.error());
        }
        registry_->entries.emplace(sensor_id, std::move(entry));
        return std::make_unique<ComSubscription>(registry_, sensor_id);
    }

  private:
    ComPtr<ISensorManager> manager_;
    std::shared_ptr<SubscriptionRegistry> registry_;
    ComPtr<ISensorManagerEvents> manager_sink_;
};

}  // namespace

std::expected<std::unique_ptr<sensors::SensorManager>, SensorError> make_sensor_manager(
    ISensorManager& manager) {
    auto registry = std::make_shared<SubscriptionRegistry>();
    auto sink = ManagerEventSink::create(registry, manager);
    if (const HRESULT hr = manager.SetEventSink(sink.get()); FAILED(hr))
        return std::unexpected(win32_error(hr));
    return std::make_unique<ComSensorManager>(ComPtr<ISensorManager>::share(&manager),
                                              std::move(registry), std::move(sink));
}

std::expected<std::unique_ptr<sensors::SensorManager>, SensorError>
ComSensorLibrary::create_manager() {
    ComPtr<ISensorManager> manager;
    HRESULT hr = CoCreateInstance(CLSID_SensorManager, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ISensorManager, reinterpret_cast<void**>(manager.put()));
    // Success without an interface is reported as the null pointer it is.
    if (SUCCEEDED(hr) && !manager)
        hr = E_POINTER;
    if (FAILED(hr)) {
        const auto error = platform_error(hr);
        kLog.error("Failed to create SensorManager instance: {}", error);
        return std::unexpected(SensorError{SensorError::Kind::Win32, error});
    }
    return make_sensor_manager(*manager);
}

}  // namespace norvo::sensorlib
