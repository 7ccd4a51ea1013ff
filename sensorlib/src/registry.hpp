#pragma once
// The subscriptions of one manager by sensor ID, shared by the manager, its
// manager sink and every subscription handle. Its mutex serialises subscribe,
// unsubscribe and the sensor-enter callback.

#include <cstddef>
#include <memory>
#include <unordered_map>

#include "norvo/guid.hpp"
#include "norvo/mutex.hpp"
#include "norvo/sensorlib/com.hpp"
#include "norvo/sensorlib/com_ptr.hpp"
#include "norvo/sensors/types.hpp"

namespace norvo::sensorlib {

struct SubscriptionEntry {
    std::shared_ptr<const sensors::SensorCallbacks> callbacks;
    ComPtr<ISensor> sensor;      // empty while waiting for the sensor
    ComPtr<ISensorEvents> sink;  // empty exactly when `sensor` is
};

struct GuidHash {
    std::size_t operator()(const Guid& g) const noexcept;
};

struct SubscriptionRegistry {
    Mutex mutex;
    std::unordered_map<Guid, SubscriptionEntry, GuidHash> entries GUARDED_BY(mutex);
};

}  // namespace norvo::sensorlib
