// NorvoStartSensor on the runtime norvo-vtap.exe publishes: the platform's COM and the sensor
// library over its Sensor API. Wine has no Sensor API: where a case needs one, it registers a
// sensor manager of its own for CLSID_SensorManager in this process, so the start still goes
// through CoInitializeEx and CoCreateInstance.

#include "norvo/windows/service_platform.hpp"

#include "fakes.hpp"
#include "norvo/log_capture.hpp"
#include "norvo/sensorlib/sensor_library.hpp"
#include "norvo/sensors/tap_sensor.hpp"
#include "norvo/service/client_callbacks.hpp"
#include "norvo/service/client_context.hpp"
#include "norvo/service/procedures.hpp"
#include "support/start_harness.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace norvo::windows {
namespace {

using norvo::testing::error_text;
using norvo::testing::FakeSensor;
using norvo::testing::FakeSensorManager;
using norvo::testing::make_fake;
using norvo::testing::RecordingCallbacks;
using sensorlib::ComPtr;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsSupersetOf;
using ::testing::StartsWith;

constexpr service::PropertyKey kSimulationMode = 2;

// Whether this system serves the Sensor API's manager (Windows does, Wine not).
bool sensor_api_present() {
    bool present = false;
    std::thread([&] {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
            return;
        ComPtr<ISensorManager> manager;
        present = SUCCEEDED(CoCreateInstance(CLSID_SensorManager, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_ISensorManager,
                                             reinterpret_cast<void**>(manager.put())));
        manager.reset();
        CoUninitialize();
    }).join();
    return present;
}

// The calling thread's place in the multithreaded apartment.
class JoinedMta {
  public:
    JoinedMta() : joined_(com_.initialize().has_value()) {}
    ~JoinedMta() {
        if (joined_)
            com_.uninitialize();
    }
    bool joined() const { return joined_; }

  private:
    sensorlib::MtaApartment com_;
    bool joined_;
};

// Serves `manager` as CLSID_SensorManager to this process while it lives.
class RegisteredSensorManager {
  public:
    explicit RegisteredSensorManager(ISensorManager& manager) {
        auto factory = ComPtr<IClassFactory>::adopt(new Factory(manager));
        if (FAILED(CoRegisterClassObject(CLSID_SensorManager, factory.get(), CLSCTX_INPROC_SERVER,
                                         REGCLS_MULTIPLEUSE, &cookie_))) {
            cookie_ = 0;
        }
    }
    ~RegisteredSensorManager() {
        if (cookie_)
            CoRevokeClassObject(cookie_);
    }
    RegisteredSensorManager(const RegisteredSensorManager&) = delete;
    RegisteredSensorManager& operator=(const RegisteredSensorManager&) = delete;
    bool registered() const { return cookie_ != 0; }

  private:
    class Factory final : public sensorlib::ComObject<IClassFactory, IID_IClassFactory> {
      public:
        explicit Factory(ISensorManager& manager)
            : manager_(ComPtr<ISensorManager>::share(&manager)) {}
        [[nodiscard]] HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid,
                                                               void** out) override {
            if (outer)
                return CLASS_E_NOAGGREGATION;
            return manager_->QueryInterface(iid, out);
        }
        [[nodiscard]] HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

      private:
        ComPtr<ISensorManager> manager_;
    };

    DWORD cookie_ = 0;
};

// A sensor manager without sensors, served for CLSID_SensorManager in the multithreaded
// apartment, which this thread keeps alive while the start runs on another.
struct ServedSensorManager {
    JoinedMta mta;
    ComPtr<FakeSensorManager> manager = make_fake<FakeSensorManager>();
    RegisteredSensorManager registration{*manager};

    bool ready() const { return mta.joined() && registration.registered(); }
};

class WindowsSensorStart : public ::testing::Test {
  protected:
    // Once per process, as service main does.
    static void SetUpTestSuite() { ASSERT_TRUE(ScmServicePlatform().start_runtime()); }

    void SetUp() override {
        log_ = log::CaptureSink::install();
        service::RemoteOpen(context_);
    }
    // Closing stops a start a failed case left running, and waits for it to return.
    void TearDown() override {
        service::RemoteClose(context_);
        if (running_.joinable())
            running_.join();
    }

    void set_simulation(bool on) {
        const std::uint8_t value[] = {on};
        ASSERT_EQ(service::NorvoSetProperty(*context_, kSimulationMode, value), service::hr::ok);
    }

    // On a thread of its own, as an RPC worker runs it, with the callbacks bound to that call.
    void start(RecordingCallbacks& callbacks, std::uint64_t cookie) {
        running_ = std::thread([this, context = context_.get(), &callbacks, cookie] {
            service::CurrentCallScope call(callbacks);
            result_ = service::NorvoStartSensor(*context, cookie);
        });
    }
    [[nodiscard]] service::HRESULT join() {
        running_.join();
        return result_;
    }

    service::ContextHandle context_;
    RecordingCallbacks callbacks_;
    std::thread running_;
    service::HRESULT result_ = -1;
    std::shared_ptr<log::CaptureSink> log_;
};

TEST_F(WindowsSensorStart, WithoutTheSensorApiEveryStartFailsToCreateTheManager) {
    if (sensor_api_present())
        GTEST_SKIP() << "this system serves the Sensor API";
    const std::string error = error_text(REGDB_E_CLASSNOTREG);
    // Simulation needs no sensor, but the manager is made before the mode is read.
    for (const bool simulated : {false, true}) {
        SCOPED_TRACE(simulated ? "simulation mode" : "sensor");
        RecordingCallbacks callbacks;
        log_->clear();
        set_simulation(simulated);
        const auto users = service::connected_user_count.load();
        start(callbacks, 7);

        EXPECT_EQ(join(), service::hr::unexpected);
        EXPECT_THAT(callbacks.lines(), ElementsAre("SignalReturn 0x8000ffff cookie=7"));
        EXPECT_THAT(log_->messages(),
                    IsSupersetOf(std::vector<std::string>{
                        "Failed to create SensorManager instance: " + error,
                        "Failed to create sensor manager: Win32(" + error + ")",
                        "End of the NorvoStartSensor() called, result: 0x8000ffff"}));
        EXPECT_EQ(service::connected_user_count.load(), users);
        EXPECT_FALSE(context_->processing_gate->processing());
    }
}

TEST_F(WindowsSensorStart, SimulationModeRunsItsLoopUntilStopped) {
    ServedSensorManager served;
    ASSERT_TRUE(served.ready());
    FakeSensorManager& manager = *served.manager;
    set_simulation(true);

    start(callbacks_, 3);
    callbacks_.wait_for_calls(1);  // the loop signals that it runs
    // Simulation confirms a phone tap at once.
    ASSERT_TRUE(context_->phone_event_sender.get()->try_send(service::PhoneEvent{}));
    callbacks_.wait_for_calls(2);
    EXPECT_EQ(service::NorvoStopSensor(*context_), service::hr::ok);
    EXPECT_EQ(join(), service::hr::ok);
    EXPECT_THAT(callbacks_.lines(),
                ElementsAre("SignalReturn 0x0 cookie=3",
                            AllOf(StartsWith("TapEvent 1 ts="), EndsWith(" cookie=3"))));
    EXPECT_THAT(log_->messages(), IsSupersetOf({"Simulation mode, skip sensor registration",
                                                "End of the CorvaneRegisterToEvent()",
                                                "End of the NorvoStartSensor() called, result: "
                                                "0x0"}));
    // The library's manager sink came and went through the platform's COM.
    EXPECT_EQ(manager.sink_sets.load(), 1);
    EXPECT_EQ(manager.sink_clears.load(), 1);
}

TEST_F(WindowsSensorStart, WithoutTheTapSensorTheStartWaitsForItToEnter) {
    ServedSensorManager served;
    ASSERT_TRUE(served.ready());
    FakeSensorManager& manager = *served.manager;
    set_simulation(false);

    start(callbacks_, 5);
    callbacks_.wait_for_calls(1);
    EXPECT_THAT(log_->messages(), Contains("Sensor 9B4AA91F-AEBD-4CF2-9565-672E4F0586CB not "
                                           "immediately available. Waiting for OnSensorEnter."));
    auto sensor = make_fake<FakeSensor>();
    ASSERT_NE(manager.sink(), nullptr);
    EXPECT_EQ(manager.sink()->OnSensorEnter(sensor.get(), SENSOR_STATE_READY), S_OK);
    callbacks_.wait_for_calls(2);  // the entered state reaches the client
    EXPECT_NE(sensor->sink(), nullptr);
    EXPECT_EQ(service::NorvoStopSensor(*context_), service::hr::ok);
    EXPECT_EQ(join(), service::hr::ok);
    EXPECT_THAT(callbacks_.lines(),
                ElementsAre("SignalReturn 0x0 cookie=5", AllOf(StartsWith("SensorStateChanged ts="),
                                                               EndsWith(" state=0 cookie=5"))));
    // Dropping the subscription and the manager unregistered both sinks.
    EXPECT_EQ(sensor->sink_clears.load(), 1);
    EXPECT_EQ(manager.sink_clears.load(), 1);
}

TEST(SensorApiHeaders, TheTapSensorsPropertyKeysAreThePlatforms) {
    namespace tap = sensors::tap_sensor;
    const std::pair<const PROPERTYKEY&, sensors::PropertyKey> keys[] = {
        {SENSOR_PROPERTY_PERSISTENT_UNIQUE_ID, tap::kPersistentUniqueId},
        {SENSOR_PROPERTY_MANUFACTURER, tap::kManufacturer},
        {SENSOR_PROPERTY_MODEL, tap::kModel},
    };
    for (const auto& [platform, ours] : keys) {
        EXPECT_TRUE(IsEqualGUID(platform.fmtid, norvo::testing::platform_guid(ours.fmtid)));
        EXPECT_EQ(platform.pid, ours.pid);
    }
}

}  // namespace
}  // namespace norvo::windows
