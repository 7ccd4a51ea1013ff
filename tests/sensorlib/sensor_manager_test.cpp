#include <gmock/gmock.h>

#include "library_fixture.hpp"

namespace norvo::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using SensorManagerTest = LibraryTest;

TEST_F(SensorManagerTest, RegistersItsSinkAndUnregistersItOnDrop) {
    auto manager = make_manager();
    EXPECT_EQ(manager_->sink_sets.load(), 1);
    EXPECT_NE(manager_->sink(), nullptr);
    manager.reset();
    EXPECT_EQ(manager_->sink_clears.load(), 1);
    EXPECT_EQ(manager_->sink(), nullptr);
    EXPECT_THAT(notices(), IsEmpty());
}

TEST_F(SensorManagerTest, FailingToRegisterTheSinkIsAWin32ErrorAndLogsNothing) {
    manager_->set_sink_hr = E_ACCESSDENIED;
    auto manager = sensorlib::make_sensor_manager(*manager_);
    ASSERT_FALSE(manager);
    EXPECT_EQ(fmt::format("{}", manager.error()), "Win32(" + error_text(E_ACCESSDENIED) + ")");
    EXPECT_THAT(logged(), IsEmpty());
}

TEST_F(SensorManagerTest, FailingToUnregisterOnDropIsLoggedAndTheDropGoesOn) {
    manager_->clear_sink_hr = E_FAIL;
    make_manager().reset();
    EXPECT_THAT(notices(), ElementsAre("ERROR Failed to unregister manager event sink on drop: " +
                                       error_text(E_FAIL)));
    // The platform kept the sink it could not drop; it lets go of it when it goes itself.
    manager_->clear_sink_hr = S_OK;
    EXPECT_EQ(manager_->SetEventSink(nullptr), S_OK);
}

TEST_F(SensorManagerTest, SubscribeActivatesAPresentSensor) {
    manager_->set_present(sensor_.get());
    auto manager = make_manager();
    auto subscription = subscribe(*manager);
    EXPECT_THAT(notices(),
                ElementsAre("INFO Successfully activated sensor and registered event sink for " +
                            kTapIdText));
    ASSERT_NE(sensor_->sink(), nullptr);
    EXPECT_EQ(sensor_->sink()->OnDataUpdated(sensor_.get(), tap_report(1).get()), S_OK);
    EXPECT_THAT(messages_.take(),
                ElementsAre("DataUpdated UI4[0, 0, 0, 0, 0, 0, 0, 0] UI4[1, 0, 0, 0, 0, 0, 0, 0]"));
}

TEST_F(SensorManagerTest, SecondSubscriptionIsRefusedAndTheFirstKeepsWorking) {
    manager_->set_present(sensor_.get());
    auto manager = make_manager();
    auto first = subscribe(*manager);
    Messages second_messages;
    auto second = manager->subscribe(sensors::tap_sensor::kSensorId, second_messages.callbacks());
    ASSERT_FALSE(second);
    EXPECT_EQ(fmt::format("{}", second.error()), "AlreadySubscribed");
    EXPECT_EQ(sensor_->sink_sets.load(), 1);
    sensor_->sink()->OnDataUpdated(sensor_.get(), tap_report(1).get());
    EXPECT_EQ(messages_.take().size(), 1u);
    EXPECT_THAT(second_messages.take(), IsEmpty());
}

TEST_F(SensorManagerTest, FailedActivationInsertsNothing) {
    struct Case {
        const char* name;
        void (*configure)(FakeSensor&);
        std::string error;
    };
    const Case cases[] = {
        {"GetState fails", [](FakeSensor& s) { s.state_hr = E_FAIL; },
         "Win32(" + error_text(E_FAIL) + ")"},
        {"state 6", [](FakeSensor& s) { s.state = 6; }, "InvalidSensorState"},
        {"state -1", [](FakeSensor& s) { s.state = -1; }, "InvalidSensorState"},
        {"fields fail", [](FakeSensor& s) { s.fields_hr = E_ACCESSDENIED; },
         "FailedToGetSensorFields"},
        {"no field collection", [](FakeSensor& s) { s.fields.reset(); }, "FailedToGetSensorFields"},
        {"GetCount fails", [](FakeSensor& s) { s.count_hr = E_UNEXPECTED; },
         "Win32(" + error_text(E_UNEXPECTED) + ")"},
        {"second GetAt fails", [](FakeSensor& s) { s.failing_index = 1; },
         "Win32(" + error_text(E_FAIL) + ")"},
        {"SetEventSink fails", [](FakeSensor& s) { s.set_sink_hr = E_ACCESSDENIED; },
         "Win32(" + error_text(E_ACCESSDENIED) + ")"},
    };
    auto manager = make_manager();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto broken = make_fake<FakeSensor>();
        c.configure(*broken);
        manager_->set_present(broken.get());
        auto subscription =
            manager->subscribe(sensors::tap_sensor::kSensorId, messages_.callbacks());
        ASSERT_FALSE(subscription);
        EXPECT_EQ(fmt::format("{}", subscription.error()), c.error);
        EXPECT_EQ(broken->sink(), nullptr);
        // Nothing was registered, so the same ID can be subscribed again.
        manager_->set_present(sensor_.get());
        EXPECT_TRUE(manager->subscribe(sensors::tap_sensor::kSensorId, messages_.callbacks()));
    }
    manager_->set_present(nullptr);
}

TEST_F(SensorManagerTest, ZeroFieldsActivateAndReportEmptyLists) {
    sensor_->fields = std::vector<PROPERTYKEY>{};
    manager_->set_present(sensor_.get());
    auto manager = make_manager();
    auto subscription = subscribe(*manager);
    ASSERT_NE(sensor_->sink(), nullptr);
    sensor_->sink()->OnDataUpdated(sensor_.get(), tap_report(1).get());
    EXPECT_THAT(messages_.take(), ElementsAre("DataUpdated"));
}

TEST_F(SensorManagerTest, DroppingAnActiveSubscriptionUnregistersOnceAWaitingOneNever) {
    auto manager = make_manager();
    auto waiting = subscribe(*manager);
    waiting.reset();
    EXPECT_EQ(sensor_->sink_sets.load() + sensor_->sink_clears.load(), 0);

    manager_->set_present(sensor_.get());
    auto active = subscribe(*manager);
    log_->clear();
    active.reset();
    EXPECT_EQ(sensor_->sink_clears.load(), 1);
    EXPECT_EQ(sensor_->sink(), nullptr);
    EXPECT_THAT(notices(), IsEmpty());
    manager_->set_present(nullptr);
}

TEST_F(SensorManagerTest, ManagerDroppedFirstLeavesTheSensorSinkUntilTheSubscriptionGoes) {
    manager_->set_present(sensor_.get());
    auto manager = make_manager();
    auto subscription = subscribe(*manager);
    manager_->set_present(nullptr);
    manager.reset();
    EXPECT_EQ(manager_->sink_clears.load(), 1);
    ASSERT_NE(sensor_->sink(), nullptr);
    EXPECT_EQ(sensor_->sink_clears.load(), 0);
    sensor_->sink()->OnDataUpdated(sensor_.get(), tap_report(1).get());
    EXPECT_EQ(messages_.take().size(), 1u);

    subscription.reset();
    EXPECT_EQ(sensor_->sink_clears.load(), 1);
    EXPECT_EQ(sensor_->sink(), nullptr);
}

TEST_F(SensorManagerTest, FailedUnregisterOnDropIsLoggedInDisplayFormAndReleasesAll) {
    struct Case {
        HRESULT hr;
        std::string shown;
    };
    const Case cases[] = {
        {HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED),
         "The device is not connected. (0x8007048F)"},
        {static_cast<HRESULT>(0x80041234), "0x80041234"},  // no system message
    };
    auto manager = make_manager();
    for (const auto& c : cases) {
        auto sensor = make_fake<FakeSensor>();
        sensor->clear_sink_hr = c.hr;
        manager_->set_present(sensor.get());
        auto subscription = subscribe(*manager);
        log_->clear();
        subscription.reset();
        EXPECT_THAT(notices(), ElementsAre("ERROR Failed to unregister event sink on drop for " +
                                           kTapIdText + ": " + c.shown));
    }
    manager_->set_present(nullptr);
}

}  // namespace
}  // namespace norvo::testing
