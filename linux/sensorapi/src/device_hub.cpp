#include "device_hub.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include "norvo/sensors/tap_sensor.hpp"

namespace norvo::linux_platform {
namespace {

// The property set of the tap sensor's data fields.
constexpr GUID kFieldSet{
    0x3E0C6A52, 0x1B7D, 0x4F2A, {0x9C, 0x41, 0x6D, 0x0B, 0x72, 0xE5, 0x18, 0xA4}};

GUID to_platform(const Guid& g) {
    GUID out{g.data1, g.data2, g.data3, {}};
    for (std::size_t i = 0; i < g.data4.size(); ++i) out.Data4[i] = g.data4[i];
    return out;
}

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
constexpr HRESULT kNotConnected = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);

}  // namespace

const GUID& tap_sensor_id() {
    static const GUID id = to_platform(sensors::tap_sensor::kSensorId);
    return id;
}

PROPERTYKEY tap_field_key(std::uint32_t index) {
    return PROPERTYKEY{kFieldSet, 2 + index};
}

DeviceHub::DeviceHub() : demand_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void DeviceHub::signal_demand() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(demand_.get(), &one, sizeof one);
}

bool DeviceHub::has_sinks() {
    MutexLock lock(mutex_);
    return !registrations_.empty();
}

DeviceHub& DeviceHub::instance() {
    // Lives as long as the process: sensor objects and managers may outlive any device.
    static DeviceHub* hub = new DeviceHub;
    return *hub;
}

std::vector<DeviceHub::Registration> DeviceHub::registered_sinks() {
    std::vector<Registration> out;
    for (const auto& [key, r] : registrations_) {
        out.push_back(
            {ComPtr<ISensor>::share(r.sensor.get()), ComPtr<ISensorEvents>::share(r.sink.get())});
    }
    return out;
}

void DeviceHub::enter(const sensor_device::Enter& message) {
    leave();
    auto presence = std::make_shared<Presence>(Presence{message.model, message.manufacturer, {}});
    for (std::uint32_t i = 0; i < message.field_count; ++i)
        presence->fields.push_back(tap_field_key(i));

    std::vector<std::pair<ComPtr<ISensorManagerEvents>, ComPtr<ISensor>>> calls;
    {
        MutexLock lock(mutex_);
        presence_ = presence;
        state_ = message.state;
        for (const auto& [manager, sink] : manager_sinks_) {
            auto& sensor = manager_sensors_[manager];
            sensor = make_sensor_object(presence);
            calls.emplace_back(ComPtr<ISensorManagerEvents>::share(sink.get()),
                               ComPtr<ISensor>::share(sensor.get()));
        }
    }
    // As the platform does, a sink's answer to an event changes nothing here.
    for (const auto& [sink, sensor] : calls)
        (void)sink->OnSensorEnter(sensor.get(), static_cast<SensorState>(message.state));
}

void DeviceHub::leave() {
    std::vector<Registration> leaving;
    std::map<const void*, ComPtr<ISensor>> sensors;
    {
        MutexLock lock(mutex_);
        if (!presence_)
            return;
        presence_.reset();
        for (auto& [key, r] : registrations_) leaving.push_back(std::move(r));
        registrations_.clear();
        sensors.swap(manager_sensors_);
    }
    if (!leaving.empty())
        signal_demand();
    for (const auto& r : leaving)
        (void)r.sink->OnLeave(tap_sensor_id());  // answer unused, as above
}

void DeviceHub::change_state(std::int32_t state) {
    std::vector<Registration> calls;
    {
        MutexLock lock(mutex_);
        if (!presence_)
            return;
        state_ = state;
        calls = registered_sinks();
    }
    for (const auto& r : calls)
        (void)r.sink->OnStateChanged(r.sensor.get(), static_cast<SensorState>(state));
}

void DeviceHub::report(const sensor_device::Report& message) {
    std::vector<Registration> calls;
    std::shared_ptr<const Presence> presence;
    {
        MutexLock lock(mutex_);
        if (!presence_)
            return;
        presence = presence_;
        calls = registered_sinks();
    }
    const auto report = make_report_object(std::move(presence), message.values);
    for (const auto& r : calls) (void)r.sink->OnDataUpdated(r.sensor.get(), report.get());
}

HRESULT DeviceHub::find_sensor(const void* manager, REFSENSOR_ID id, ISensor** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    MutexLock lock(mutex_);
    if (!presence_ || !IsEqualGUID(id, tap_sensor_id()))
        return kNotFound;
    auto& sensor = manager_sensors_[manager];
    if (!sensor)
        sensor = make_sensor_object(presence_);
    *out = ComPtr<ISensor>::share(sensor.get()).detach();
    return S_OK;
}

void DeviceHub::set_manager_sink(const void* manager, ISensorManagerEvents* sink) {
    ComPtr<ISensorManagerEvents> old;
    MutexLock lock(mutex_);
    auto it = manager_sinks_.find(manager);
    if (it != manager_sinks_.end()) {
        old = std::move(it->second);
        manager_sinks_.erase(it);
    }
    if (sink)
        manager_sinks_.emplace(manager, ComPtr<ISensorManagerEvents>::share(sink));
}

void DeviceHub::forget_manager(const void* manager) {
    ComPtr<ISensorManagerEvents> sink;
    ComPtr<ISensor> sensor;
    MutexLock lock(mutex_);
    if (auto node = manager_sinks_.extract(manager))
        sink = std::move(node.mapped());
    if (auto node = manager_sensors_.extract(manager))
        sensor = std::move(node.mapped());
}

HRESULT DeviceHub::set_sensor_sink(ISensor& sensor, const Presence& presence, ISensorEvents* sink) {
    Registration old;
    bool changed = false;
    {
        MutexLock lock(mutex_);
        if (presence_.get() != &presence)
            return sink ? kNotConnected : S_OK;
        const bool had = !registrations_.empty();
        if (auto node = registrations_.extract(&sensor))
            old = std::move(node.mapped());
        if (sink) {
            registrations_.emplace(&sensor, Registration{ComPtr<ISensor>::share(&sensor),
                                                         ComPtr<ISensorEvents>::share(sink)});
        }
        changed = had == registrations_.empty();
    }
    if (changed)
        signal_demand();
    return S_OK;
}

HRESULT DeviceHub::state_of(const Presence& presence, SensorState* out) {
    if (!out)
        return E_POINTER;
    MutexLock lock(mutex_);
    if (presence_.get() != &presence)
        return kNotConnected;
    *out = static_cast<SensorState>(state_);
    return S_OK;
}

}  // namespace norvo::linux_platform
