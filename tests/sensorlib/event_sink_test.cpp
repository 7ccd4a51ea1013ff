#include <gmock/gmock.h>

#include "library_fixture.hpp"

namespace norvo::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class EventSinkTest : public LibraryTest {
  protected:
    void TearDown() override {
        subscription.reset();
        manager.reset();
        LibraryTest::TearDown();
    }

    // An active subscription over sensor_, activated in `state`.
    void activate(std::int32_t state = SENSOR_STATE_READY) {
        sensor_->state = state;
        manager_->set_present(sensor_.get());
        manager = make_manager();
        subscription = subscribe(*manager);
        manager_->set_present(nullptr);
        ASSERT_NE(sensor_->sink(), nullptr);
        log_->clear();
    }
    // A waiting subscription: the sensor is not present.
    void wait_for_sensor() {
        manager = make_manager();
        subscription = subscribe(*manager);
        log_->clear();
    }

    [[nodiscard]] HRESULT data(FakeReport* report) {
        return sensor_->sink()->OnDataUpdated(sensor_.get(), report);
    }
    [[nodiscard]] HRESULT tap() { return data(tap_report(1).get()); }
    [[nodiscard]] HRESULT enter(FakeSensor* sensor, std::int32_t state) {
        return manager_->sink()->OnSensorEnter(sensor, static_cast<SensorState>(state));
    }

    std::unique_ptr<sensors::SensorManager> manager;
    std::unique_ptr<sensors::SensorSubscription> subscription;
};

TEST_F(EventSinkTest, DataIsDroppedUntilTheSensorIsReadyAndBadStatesChangeNothing) {
    activate(SENSOR_STATE_INITIALIZING);
    EXPECT_EQ(tap(), S_OK);
    EXPECT_EQ(sensor_->sink()->OnStateChanged(sensor_.get(), static_cast<SensorState>(6)), S_OK);
    EXPECT_EQ(sensor_->sink()->OnStateChanged(sensor_.get(), SENSOR_STATE_READY), S_OK);
    EXPECT_EQ(tap(), S_OK);
    sensor_->sink()->OnStateChanged(sensor_.get(), SENSOR_STATE_NO_DATA);
    sensor_->sink()->OnStateChanged(sensor_.get(), static_cast<SensorState>(-1));
    EXPECT_EQ(tap(), S_OK);  // still not ready: -1 left the state as it was
    EXPECT_THAT(messages_.take(),
                ElementsAre("StateChanged SensorStateReady",
                            "DataUpdated UI4[0, 0, 0, 0, 0, 0, 0, 0] UI4[1, 0, 0, 0, 0, 0, 0, 0]",
                            "StateChanged SensorStateNoData"));
    EXPECT_THAT(notices(), ElementsAre("ERROR Failed to convert sensor state: SensorState(6)",
                                       "ERROR Failed to convert sensor state: SensorState(-1)"));
    EXPECT_THAT(logged(), Contains("TRACE Received data but sensor not ready").Times(2));
}

TEST_F(EventSinkTest, AFailingFieldDropsTheReportAndReturnsItsResult) {
    activate();
    auto report =
        make_fake<FakeReport>(std::vector<FakeValue>{{VT_UI4, {1}}, {VT_UI4, {1}, E_ACCESSDENIED}});
    EXPECT_EQ(data(report.get()), E_ACCESSDENIED);
    EXPECT_EQ(report->reads.load(), 2);
    EXPECT_THAT(messages_.take(), IsEmpty());
    EXPECT_THAT(notices(), IsEmpty());
}

TEST_F(EventSinkTest, EachFieldCarriesTheFirstEightBytesOfTheValueArea) {
    sensor_->fields = std::vector<PROPERTYKEY>{field_key(2), field_key(3), field_key(4)};
    activate();
    auto report = make_fake<FakeReport>(std::vector<FakeValue>{
        {VT_UI4, {1, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD}},
        {VT_FILETIME, {1, 2, 3, 4, 5, 6, 7, 8}},
        {VT_I2, {0x34, 0x12, 9, 9, 9, 9, 9, 9}},
    });
    EXPECT_EQ(data(report.get()), S_OK);
    EXPECT_THAT(messages_.take(),
                ElementsAre("DataUpdated UI4[1, 0, 0, 0, 170, 187, 204, 221] "
                            "Null[1, 2, 3, 4, 5, 6, 7, 8] I2[52, 18, 9, 9, 9, 9, 9, 9]"));
}

TEST_F(EventSinkTest, AMissingReportIsWarnedAbout) {
    activate();
    EXPECT_EQ(data(nullptr), S_OK);
    EXPECT_THAT(messages_.take(), IsEmpty());
    EXPECT_THAT(notices(), ElementsAre("WARN OnDataUpdated called with no data."));
}

TEST_F(EventSinkTest, LeaveKeepsTheSubscriptionAndEventsAreIgnored) {
    activate();
    const GUID other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(sensor_->sink()->OnEvent(sensor_.get(), other, nullptr), S_OK);
    EXPECT_EQ(sensor_->sink()->OnLeave(kTapId), S_OK);
    EXPECT_THAT(messages_.take(), ElementsAre("Left"));
    EXPECT_THAT(notices(), ElementsAre("INFO OnLeave event received for sensor: " + kTapIdText));
    EXPECT_EQ(sensor_->sink_clears.load(), 0);
}

TEST_F(EventSinkTest, FirstEnterActivatesAWaitingSubscription) {
    wait_for_sensor();
    EXPECT_EQ(enter(sensor_.get(), SENSOR_STATE_READY), S_OK);
    EXPECT_THAT(messages_.take(), ElementsAre("Entered SensorStateReady"));
    EXPECT_THAT(notices(),
                ElementsAre("INFO Reconnecting sensor: " + kTapIdText,
                            "INFO Successfully activated sensor and registered event sink for " +
                                kTapIdText));
    ASSERT_NE(sensor_->sink(), nullptr);
    EXPECT_EQ(tap(), S_OK);
    EXPECT_EQ(messages_.take().size(), 1u);
}

TEST_F(EventSinkTest, EnterOfAnUnsubscribedSensorPostsNothing) {
    wait_for_sensor();
    sensor_->properties[5].guid = GUID{0x01020304, 5, 6, {7, 8, 9, 10, 11, 12, 13, 14}};
    EXPECT_EQ(enter(sensor_.get(), SENSOR_STATE_READY), S_OK);
    EXPECT_THAT(messages_.take(), IsEmpty());
    EXPECT_THAT(notices(), IsEmpty());
    EXPECT_EQ(sensor_->sink_sets.load(), 0);
}

TEST_F(EventSinkTest, EnterWithoutReadableSensorInfoIsDropped) {
    struct Case {
        const char* name;
        void (*configure)(FakeSensor&);
    };
    const Case cases[] = {
        {"model unreadable", [](FakeSensor& s) { s.properties[7].hr = E_ACCESSDENIED; }},
        {"manufacturer not a string", [](FakeSensor& s) { s.properties[6].vt = VT_I4; }},
        {"model with an unpaired surrogate",
         [](FakeSensor& s) { s.properties[7].text = u"ab\xD800"; }},
        {"manufacturer with a stray low surrogate",
         [](FakeSensor& s) { s.properties[6].text = u"\xDC00x"; }},
        {"unique ID not a GUID", [](FakeSensor& s) { s.properties[5].vt = VT_LPWSTR; }},
        {"no unique ID", [](FakeSensor& s) { s.properties.erase(5); }},
    };
    wait_for_sensor();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto sensor = make_fake<FakeSensor>();
        c.configure(*sensor);
        log_->clear();
        EXPECT_EQ(enter(sensor.get(), SENSOR_STATE_READY), S_OK);
        EXPECT_THAT(logged(),
                    ElementsAre("ERROR OnSensorEnter: Failed to get SensorInfo from ISensor."));
        EXPECT_EQ(sensor->sink_sets.load(), 0);
    }
    log_->clear();
    EXPECT_EQ(enter(nullptr, SENSOR_STATE_READY), S_OK);
    EXPECT_THAT(logged(), ElementsAre("ERROR OnSensorEnter: No sensor provided."));
    EXPECT_THAT(messages_.take(), IsEmpty());
}

TEST_F(EventSinkTest, AFailedReactivationStillPostsEnteredAndKeepsTheActiveSensor) {
    activate();
    auto broken = make_fake<FakeSensor>();
    broken->state = 9;
    EXPECT_EQ(enter(broken.get(), SENSOR_STATE_INITIALIZING), S_OK);
    EXPECT_THAT(messages_.take(), ElementsAre("Entered SensorStateInitializing"));
    EXPECT_THAT(notices(), ElementsAre("INFO Reconnecting sensor: " + kTapIdText,
                                       "ERROR Failed to reactivate sensor on enter " + kTapIdText +
                                           ": InvalidSensorState"));
    EXPECT_EQ(tap(), S_OK);  // the first sensor still delivers
    EXPECT_EQ(messages_.take().size(), 1u);
    subscription.reset();
    EXPECT_EQ(sensor_->sink_clears.load(), 1);
}

TEST_F(EventSinkTest, EnterWithAnInvalidStateReactivatesAndPostsNothing) {
    wait_for_sensor();
    EXPECT_EQ(enter(sensor_.get(), 7), S_OK);
    EXPECT_THAT(messages_.take(), IsEmpty());
    EXPECT_THAT(notices(),
                ElementsAre("INFO Reconnecting sensor: " + kTapIdText,
                            "INFO Successfully activated sensor and registered event sink for " +
                                kTapIdText,
                            "ERROR Failed to convert sensor state on enter."));
    EXPECT_NE(sensor_->sink(), nullptr);
}

TEST_F(EventSinkTest, ReenterReplacesTheSensorAndItsSink) {
    activate();
    sensor_->sink()->OnLeave(kTapId);
    auto again = make_fake<FakeSensor>();
    EXPECT_EQ(enter(again.get(), SENSOR_STATE_READY), S_OK);
    ASSERT_NE(again->sink(), nullptr);
    again->sink()->OnDataUpdated(again.get(), tap_report(1).get());
    EXPECT_THAT(messages_.take(),
                ElementsAre("Left", "Entered SensorStateReady",
                            "DataUpdated UI4[0, 0, 0, 0, 0, 0, 0, 0] UI4[1, 0, 0, 0, 0, 0, 0, 0]"));
    subscription.reset();
    EXPECT_EQ(again->sink_clears.load(), 1);
    EXPECT_EQ(sensor_->sink_clears.load(), 0);  // the old sink only lost the library's reference
}

// Both sinks: free-threaded, with one identity.
TEST_F(EventSinkTest, QueryInterfaceAnswersTheAgileIdentityAndNothingElse) {
    activate();
    struct Sink {
        const char* name;
        IUnknown* object;
        const IID& own;
        const IID& other;
    };
    const Sink sinks[] = {
        {"sensor sink", sensor_->sink(), IID_ISensorEvents, IID_ISensorManagerEvents},
        {"manager sink", manager_->sink(), IID_ISensorManagerEvents, IID_ISensorEvents},
    };
    for (const auto& sink : sinks) {
        SCOPED_TRACE(sink.name);
        void* identity = nullptr;
        ASSERT_EQ(sink.object->QueryInterface(IID_IUnknown, &identity), S_OK);
        for (const IID* iid :
             {&IID_IUnknown, &IID_IAgileObject, &sink.own, &sensorlib::kIidInspectable}) {
            void* out = nullptr;
            ASSERT_EQ(sink.object->QueryInterface(*iid, &out), S_OK);
            ASSERT_NE(out, nullptr);
            auto* answered = static_cast<IUnknown*>(out);
            void* again = nullptr;
            ASSERT_EQ(answered->QueryInterface(IID_IUnknown, &again), S_OK);
            EXPECT_EQ(again, identity);
            static_cast<IUnknown*>(again)->Release();
            answered->Release();
        }
        void* inspectable = nullptr;
        sink.object->QueryInterface(sensorlib::kIidInspectable, &inspectable);
        auto* as_inspectable = static_cast<IInspectable*>(inspectable);
        TrustLevel trust = FullTrust;
        ULONG count = 7;
        IID* iids = reinterpret_cast<IID*>(&count);  // must come back null
        EXPECT_EQ(as_inspectable->GetTrustLevel(&trust), S_OK);
        EXPECT_EQ(trust, BaseTrust);
        EXPECT_EQ(as_inspectable->GetIids(&count, &iids), S_OK);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(iids, nullptr);
        as_inspectable->Release();

        for (const IID* iid : {&sink.other, &IID_ISensor}) {
            void* out = &count;
            EXPECT_EQ(sink.object->QueryInterface(*iid, &out), E_NOINTERFACE);
            EXPECT_EQ(out, nullptr);
        }
        EXPECT_EQ(sink.object->QueryInterface(sink.own, nullptr), E_POINTER);
        // Back to the references the library and the platform hold.
        EXPECT_EQ(static_cast<IUnknown*>(identity)->Release(), 2u);
    }
}

}  // namespace
}  // namespace norvo::testing
