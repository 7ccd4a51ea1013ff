#include "sensor_event_sink.hpp"

#include <cstring>

#include "convert.hpp"
#include "log_target.hpp"

namespace norvo::sensorlib {
namespace {

using sensors::SensorField;

// The first 8 bytes of the value area as they lie in memory, whatever the type.
SensorField read_field(const sensors::PropertyKey& key, const PROPVARIANT& value) {
    static_assert(sizeof(value.uhVal) == 8);
    std::vector<std::uint8_t> bytes(8);
    std::memcpy(bytes.data(), &value.uhVal, bytes.size());
    return SensorField{std::move(bytes), key, sensors::value_type_from_platform(value.vt)};
}

}  // namespace

ComPtr<ISensorEvents> SensorEventSink::create(
    std::vector<SensorField> fields, std::shared_ptr<const sensors::SensorCallbacks> callbacks,
    const Guid& sensor_id, sensors::SensorState state) {
    return ComPtr<ISensorEvents>::adopt(
        new SensorEventSink(std::move(fields), std::move(callbacks), sensor_id, state));
}

SensorEventSink::SensorEventSink(std::vector<SensorField> fields,
                                 std::shared_ptr<const sensors::SensorCallbacks> callbacks,
                                 const Guid& sensor_id, sensors::SensorState state)
    : fields_(std::move(fields)),
      callbacks_(std::move(callbacks)),
      sensor_id_(sensor_id),
      state_(state) {}

HRESULT SensorEventSink::OnStateChanged(ISensor*, ::SensorState state) {
    const auto raw = static_cast<std::int32_t>(state);
    kLog.trace("OnStateChanged for {}: SensorState({})", sensor_id_, raw);
    const auto converted = sensors::sensor_state_from_platform(raw);
    if (!converted) {
        kLog.error("Failed to convert sensor state: SensorState({})", raw);
        return S_OK;
    }
    state_.set(*converted);
    callbacks_->on_state_changed(*converted);
    return S_OK;
}

HRESULT SensorEventSink::OnDataUpdated(ISensor*, ISensorDataReport* report) {
    kLog.trace("OnDataUpdated for sensor {}", sensor_id_);
    if (!report) {
        kLog.warn("OnDataUpdated called with no data.");
        return S_OK;
    }
    if (state_.get() != sensors::SensorState::SensorStateReady) {
        kLog.trace("Received data but sensor not ready");
        return S_OK;
    }
    std::vector<SensorField> fields;
    fields.reserve(fields_.size());
    for (const SensorField& field : fields_) {
        ScopedPropVariant value;
        const HRESULT hr = report->GetSensorValue(to_platform(field.key), &value.value);
        if (FAILED(hr))
            return hr;
        fields.push_back(read_field(field.key, value.value));
    }
    callbacks_->on_data_updated(std::move(fields));
    return S_OK;
}

HRESULT SensorEventSink::OnEvent(ISensor*, REFGUID, IPortableDeviceValues*) {
    kLog.trace("OnEvent not implemented");
    return S_OK;
}

HRESULT SensorEventSink::OnLeave(REFSENSOR_ID id) {
    kLog.info("OnLeave event received for sensor: {}", to_guid(id));
    callbacks_->on_left();
    return S_OK;
}

}  // namespace norvo::sensorlib
