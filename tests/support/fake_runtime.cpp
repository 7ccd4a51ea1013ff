#include "fake_runtime.hpp"

namespace norvo::testing {
namespace {

class FakeSubscription final : public sensors::SensorSubscription {
  public:
    explicit FakeSubscription(std::atomic<int>& live) : live_(live) { ++live_; }
    ~FakeSubscription() override { --live_; }

  private:
    std::atomic<int>& live_;
};

class FakeManager final : public sensors::SensorManager {
  public:
    explicit FakeManager(FakeSensorLibrary& library) : library_(library) {}

    [[nodiscard]] std::expected<std::unique_ptr<sensors::SensorSubscription>, sensors::SensorError>
    subscribe(const Guid&, sensors::SensorCallbacks callbacks) override {
        if (library_.subscribe_error)
            return std::unexpected(*library_.subscribe_error);
        library_.set_callbacks(std::move(callbacks));
        return std::make_unique<FakeSubscription>(library_.live_subscriptions);
    }

  private:
    FakeSensorLibrary& library_;
};

}  // namespace

std::expected<void, sensors::PlatformError> FakeCom::initialize() {
    if (fail)
        return std::unexpected(
            sensors::PlatformError{static_cast<std::int32_t>(0x80004005), "Unspecified error"});
    ++initialized;
    return {};
}

std::expected<std::unique_ptr<sensors::SensorManager>, sensors::SensorError>
FakeSensorLibrary::create_manager() {
    if (fail_create) {
        return std::unexpected(
            sensors::SensorError{sensors::SensorError::Kind::Win32,
                                 {static_cast<std::int32_t>(0x80040154), "Class not registered"}});
    }
    return std::make_unique<FakeManager>(*this);
}

std::optional<sensors::SensorCallbacks> FakeSensorLibrary::callbacks() {
    std::lock_guard lock(mutex_);
    return callbacks_;
}

void FakeSensorLibrary::set_callbacks(sensors::SensorCallbacks callbacks) {
    std::lock_guard lock(mutex_);
    callbacks_ = std::move(callbacks);
}

FakeRuntime& FakeRuntime::get() {
    static FakeRuntime* runtime = [] {
        auto* r = new FakeRuntime{std::make_shared<VirtualClock>(), std::make_shared<FakeCom>(),
                                  std::make_shared<FakeSensorLibrary>()};
        service::RUNTIME_HANDLE.publish(
            std::make_shared<service::Runtime>(service::Runtime{r->clock, r->com, r->sensors}));
        return r;
    }();
    runtime->com->fail = false;
    runtime->sensors->fail_create = false;
    runtime->sensors->subscribe_error.reset();
    return *runtime;
}

}  // namespace norvo::testing
