#pragma once
// The tap sensor as the stand-in Sensor API sees it, whichever device feeds it (the
// simulated device over its socket, or an IIO device): whether it is present, its
// state, and which sinks of which managers and sensor objects to call. Device events
// come from the thread of the device that feeds it (the device socket's or the IIO
// sensor's; one feeds it at a time); the sinks are called on that thread, never under
// the hub's lock. Whether any sink is registered (a start wants the sensor's data) is
// signalled on an eventfd, so that a device that costs something to run (a sample
// accelerometer) runs only then.

#include <map>
#include <memory>
#include <string>
#include <vector>
#include "norvo/mutex.hpp"

#include "norvo/linux/sensor_device_protocol.hpp"
#include "norvo/linux/sensorapi.h"
#include "norvo/posix/unique_fd.hpp"
#include "norvo/sensorlib/com_ptr.hpp"

namespace norvo::linux_platform {

using sensorlib::ComPtr;

// One stay of the device, from enter to leave.
struct Presence {
    std::string model;
    std::string manufacturer;
    std::vector<PROPERTYKEY> fields;
};

class DeviceHub {
  public:
    static DeviceHub& instance();

    // The device side. A device that enters while present has left first.
    void enter(const sensor_device::Enter& message);
    void leave();
    void change_state(std::int32_t state);
    void report(const sensor_device::Report& message);

    // The COM side. `manager` identifies an ISensorManager object.
    [[nodiscard]] HRESULT find_sensor(const void* manager, REFSENSOR_ID id, ISensor** out);
    void set_manager_sink(const void* manager, ISensorManagerEvents* sink);
    void forget_manager(const void* manager);
    // A sensor object of an earlier stay is disconnected: it can only unregister.
    [[nodiscard]] HRESULT set_sensor_sink(ISensor& sensor, const Presence& presence,
                                          ISensorEvents* sink);
    [[nodiscard]] HRESULT state_of(const Presence& presence, SensorState* out);

    // Readable once sensor sinks were registered while none were, or the last went (8 bytes
    // to read, to rearm it); has_sinks() says which. -1 when the process had no descriptor
    // for it.
    int demand_fd() const { return demand_.get(); }
    bool has_sinks();

  private:
    DeviceHub();
    // Called without the lock when registrations_ went from empty to not, or back.
    void signal_demand() const;
    struct Registration {
        ComPtr<ISensor> sensor;
        ComPtr<ISensorEvents> sink;
    };
    std::vector<Registration> registered_sinks() REQUIRES(mutex_);

    Mutex mutex_;
    std::shared_ptr<const Presence> presence_ GUARDED_BY(mutex_);  // null while absent
    std::int32_t state_ GUARDED_BY(mutex_) = 0;
    std::map<const void*, ComPtr<ISensorManagerEvents>> manager_sinks_ GUARDED_BY(mutex_);
    // This stay's sensor object of each manager: a manager hands out one object per stay.
    std::map<const void*, ComPtr<ISensor>> manager_sensors_ GUARDED_BY(mutex_);
    std::map<const ISensor*, Registration> registrations_ GUARDED_BY(mutex_);
    const posix::UniqueFd demand_;
};

// The tap sensor's identity and data-field keys.
const GUID& tap_sensor_id();
PROPERTYKEY tap_field_key(std::uint32_t index);

// Objects of the stand-in Sensor API.
ComPtr<ISensor> make_sensor_object(std::shared_ptr<const Presence> presence);
ComPtr<ISensorDataReport> make_report_object(std::shared_ptr<const Presence> presence,
                                             std::vector<sensor_device::ReportValue> values);
ComPtr<ISensorManager> make_sensor_manager();

}  // namespace norvo::linux_platform
