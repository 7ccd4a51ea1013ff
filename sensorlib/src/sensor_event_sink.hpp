#pragma once
// ISensorEvents for one activated sensor: turns its events into calls of the
// subscription's callables. Called on platform threads, several at once.

#include <memory>
#include <vector>

#include "agile_object.hpp"
#include "norvo/cell.hpp"
#include "norvo/guid.hpp"
#include "norvo/sensorlib/com_ptr.hpp"
#include "norvo/sensors/types.hpp"

namespace norvo::sensorlib {

class SensorEventSink final : public AgileObject<ISensorEvents, IID_ISensorEvents> {
  public:
    // `fields` are the templates of the sensor's data fields, in the sensor's order.
    static ComPtr<ISensorEvents> create(std::vector<sensors::SensorField> fields,
                                        std::shared_ptr<const sensors::SensorCallbacks> callbacks,
                                        const Guid& sensor_id, sensors::SensorState state);

    [[nodiscard]] HRESULT STDMETHODCALLTYPE OnStateChanged(ISensor* sensor,
                                                           ::SensorState state) override;
    [[nodiscard]] HRESULT STDMETHODCALLTYPE OnDataUpdated(ISensor* sensor,
                                                          ISensorDataReport* report) override;
    [[nodiscard]] HRESULT STDMETHODCALLTYPE OnEvent(ISensor* sensor, REFGUID event,
                                                    IPortableDeviceValues* data) override;
    [[nodiscard]] HRESULT STDMETHODCALLTYPE OnLeave(REFSENSOR_ID id) override;

  private:
    SensorEventSink(std::vector<sensors::SensorField> fields,
                    std::shared_ptr<const sensors::SensorCallbacks> callbacks,
                    const Guid& sensor_id, sensors::SensorState state);

    const std::vector<sensors::SensorField> fields_;
    const std::shared_ptr<const sensors::SensorCallbacks> callbacks_;
    const Guid sensor_id_;
    Cell<sensors::SensorState> state_;
};

}  // namespace norvo::sensorlib
