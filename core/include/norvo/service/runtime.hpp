#pragma once
// RUNTIME_HANDLE: the process-wide runtime that sensor starts run on. Published
// once by the host before any procedure is served, and only read afterwards.

#include "norvo/clock.hpp"
#include "norvo/sensors/sensor_error.hpp"
#include "norvo/sensors/sensor_library.hpp"

#include <expected>
#include <memory>

namespace norvo::service {

// Joins (and leaves) the platform's multithreaded COM apartment on the calling thread.
class ComApartment {
  public:
    virtual ~ComApartment() = default;
    [[nodiscard]] virtual std::expected<void, sensors::PlatformError> initialize() = 0;
    virtual void uninitialize() = 0;
};

struct Runtime {
    std::shared_ptr<Clock> clock;  // the monotonic clock and the timer facility loops wait with
    std::shared_ptr<ComApartment> com;
    std::shared_ptr<sensors::SensorLibrary> sensors;
};

class RuntimeSlot {
  public:
    // A second publication is a fatal error: the handle is written once.
    void publish(std::shared_ptr<const Runtime> runtime);
    // Null until published.
    std::shared_ptr<const Runtime> get() const;
};

extern RuntimeSlot RUNTIME_HANDLE;

}  // namespace norvo::service
