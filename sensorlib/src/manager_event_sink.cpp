#include "manager_event_sink.hpp"

#include "activate.hpp"
#include "convert.hpp"
#include "log_target.hpp"
#include "norvo/sensors/tap_sensor.hpp"

namespace norvo::sensorlib {
namespace {

std::optional<std::string> read_string(ISensor& sensor, const sensors::PropertyKey& key) {
    ScopedPropVariant p;
    if (FAILED(sensor.GetProperty(to_platform(key), &p.value)) || p.value.vt != VT_LPWSTR)
        return std::nullopt;
    return utf16_to_utf8(p.value.pwszVal);
}

std::optional<Guid> read_guid(ISensor& sensor, const sensors::PropertyKey& key) {
    ScopedPropVariant p;
    if (FAILED(sensor.GetProperty(to_platform(key), &p.value)) || p.value.vt != VT_CLSID ||
        !p.value.puuid) {
        return std::nullopt;
    }
    return to_guid(*p.value.puuid);
}

struct SensorInfo {
    std::string model;
    std::string manufacturer;
    Guid unique_id;
};

std::optional<SensorInfo> read_sensor_info(ISensor& sensor) {
    namespace tap = sensors::tap_sensor;
    auto model = read_string(sensor, tap::kModel);
    if (!model)
        return std::nullopt;
    auto manufacturer = read_string(sensor, tap::kManufacturer);
    if (!manufacturer)
        return std::nullopt;
    auto unique_id = read_guid(sensor, tap::kPersistentUniqueId);
    if (!unique_id)
        return std::nullopt;
    return SensorInfo{std::move(*model), std::move(*manufacturer), *unique_id};
}

}  // namespace

ComPtr<ISensorManagerEvents> ManagerEventSink::create(
    std::shared_ptr<SubscriptionRegistry> registry, ISensorManager& manager) {
    return ComPtr<ISensorManagerEvents>::adopt(new ManagerEventSink(std::move(registry), manager));
}

ManagerEventSink::ManagerEventSink(std::shared_ptr<SubscriptionRegistry> registry,
                                   ISensorManager& manager)
    : registry_(std::move(registry)), manager_(ComPtr<ISensorManager>::share(&manager)) {}

HRESULT ManagerEventSink::OnSensorEnter(ISensor* sensor, ::SensorState state) {
    if (!sensor) {
        kLog.error("OnSensorEnter: No sensor provided.");
        return S_OK;
    }
    const auto info = read_sensor_info(*sensor);
    if (!info) {
        kLog.error("OnSensorEnter: Failed to get SensorInfo from ISensor.");
        return S_OK;
    }
    const Guid& id = info->unique_id;
    kLog.trace("OnSensorEnter received for sensor: {}", id);

    // Held through reactivation and the entered callable, so no subscribe or unsubscribe overlaps.
    MutexLock lock(registry_->mutex);
    const auto it = registry_->entries.find(id);
    if (it == registry_->entries.end())
        return S_OK;
    kLog.info("Reconnecting sensor: {}", id);
    if (auto activated = activate(id, *sensor, it->second); !activated) {
        kLog.error("Failed to reactivate sensor on enter {}: {}", id, activated.error());
    }
    if (const auto entered =
            sensors::sensor_state_from_platform(static_cast<std::int32_t>(state))) {
        it->second.callbacks->on_entered(*entered);
    } else {
        kLog.error("Failed to convert sensor state on enter.");
    }
    return S_OK;
}

}  // namespace norvo::sensorlib
