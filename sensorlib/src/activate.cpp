#include "activate.hpp"

#include "convert.hpp"
#include "log_target.hpp"
#include "norvo/sensorlib/platform_error.hpp"
#include "sensor_event_sink.hpp"

namespace norvo::sensorlib {
namespace {

using sensors::SensorError;

[[nodiscard]] std::expected<std::vector<sensors::SensorField>, SensorError> read_field_templates(
    IPortableDeviceKeyCollection& keys) {
    DWORD count = 0;
    if (const HRESULT hr = keys.GetCount(&count); FAILED(hr))
        return std::unexpected(win32_error(hr));
    std::vector<sensors::SensorField> templates;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key{};
        if (const HRESULT hr = keys.GetAt(i, &key); FAILED(hr))
            return std::unexpected(win32_error(hr));
        templates.push_back(sensors::SensorField{{}, to_key(key), sensors::SensorValueType::Empty});
        kLog.trace("Sensor field type: {}", templates.back().key);
    }
    return templates;
}

}  // namespace

SensorError win32_error(HRESULT code) {
    return SensorError{SensorError::Kind::Win32, platform_error(code)};
}

std::expected<void, SensorError> activate(const Guid& sensor_id, ISensor& sensor,
                                          SubscriptionEntry& entry) {
    ::SensorState raw{};
    if (const HRESULT hr = sensor.GetState(&raw); FAILED(hr))
        return std::unexpected(win32_error(hr));
    const auto state = sensors::sensor_state_from_platform(static_cast<std::int32_t>(raw));
    if (!state)
        return std::unexpected(SensorError{SensorError::Kind::InvalidSensorState});

    ComPtr<IPortableDeviceKeyCollection> keys;
    if (FAILED(sensor.GetSupportedDataFields(keys.put())) || !keys) {
        return std::unexpected(SensorError{SensorError::Kind::FailedToGetSensorFields});
    }
    auto templates = read_field_templates(*keys);
    if (!templates)
        return std::unexpected(templates.error());

    auto sink = SensorEventSink::create(std::move(*templates), entry.callbacks, sensor_id, *state);
    if (const HRESULT hr = sensor.SetEventSink(sink.get()); FAILED(hr))
        return std::unexpected(win32_error(hr));

    // The old sink stays registered with its own sensor: only our references go.
    entry.sensor = ComPtr<ISensor>::share(&sensor);
    entry.sink = std::move(sink);
    kLog.info("Successfully activated sensor and registered event sink for {}", sensor_id);
    return {};
}

}  // namespace norvo::sensorlib
