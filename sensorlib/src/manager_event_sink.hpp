#pragma once
// ISensorManagerEvents for one manager: reactivates a subscribed sensor when it enters.

#include <memory>

#include "agile_object.hpp"
#include "norvo/sensorlib/com_ptr.hpp"
#include "registry.hpp"

namespace norvo::sensorlib {

class ManagerEventSink final : public AgileObject<ISensorManagerEvents, IID_ISensorManagerEvents> {
  public:
    static ComPtr<ISensorManagerEvents> create(std::shared_ptr<SubscriptionRegistry> registry,
                                               ISensorManager& manager);

    [[nodiscard]] HRESULT STDMETHODCALLTYPE OnSensorEnter(ISensor* sensor,
                                                          ::SensorState state) override;

  private:
    ManagerEventSink(std::shared_ptr<SubscriptionRegistry> registry, ISensorManager& manager);

    const std::shared_ptr<SubscriptionRegistry> registry_;
    const ComPtr<ISensorManager> manager_;
};

}  // namespace norvo::sensorlib
