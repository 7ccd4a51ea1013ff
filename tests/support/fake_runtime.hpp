#pragma once
// A process-wide runtime for tests: virtual clock, a COM stand-in and a sensor
// library whose failures a test can switch on.

#include "norvo/service/runtime.hpp"
#include "norvo/virtual_clock.hpp"

#include <atomic>
#include <mutex>
#include <optional>

namespace norvo::testing {

class FakeCom final : public service::ComApartment {
  public:
    [[nodiscard]] std::expected<void, sensors::PlatformError> initialize() override;
    void uninitialize() override { ++uninitialized; }

    std::atomic<bool> fail{false};
    std::atomic<int> initialized{0};
    std::atomic<int> uninitialized{0};
};

class FakeSensorLibrary final : public sensors::SensorLibrary {
  public:
    [[nodiscard]] std::expected<std::unique_ptr<sensors::SensorManager>, sensors::SensorError>
    create_manager() override;

    std::atomic<bool> fail_create{false};
    std::optional<sensors::SensorError> subscribe_error;  // set before a start
    std::atomic<int> live_subscriptions{0};

    // The callables of the latest subscription.
    std::optional<sensors::SensorCallbacks> callbacks();
    void set_callbacks(sensors::SensorCallbacks callbacks);

  private:
    std::mutex mutex_;
    std::optional<sensors::SensorCallbacks> callbacks_;
};

struct FakeRuntime {
    std::shared_ptr<VirtualClock> clock;
    std::shared_ptr<FakeCom> com;
    std::shared_ptr<FakeSensorLibrary> sensors;

    // Published into RUNTIME_HANDLE on first use; reset to healthy fakes on every call.
    static FakeRuntime& get();
};

}  // namespace norvo::testing
