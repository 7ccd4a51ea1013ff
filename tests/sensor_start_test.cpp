#include "norvo/log_capture.hpp"
#include "norvo/service/procedures.hpp"
#include "norvo/service/sensor_callbacks.hpp"
#include "support/fake_runtime.hpp"
#include "support/start_harness.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using norvo::service::ContextHandle;
using norvo::service::PhoneEvent;
using norvo::testing::FakeRuntime;
using norvo::testing::RecordingCallbacks;
using norvo::testing::RunningStart;
using testing::Contains;
using testing::ElementsAre;
namespace hr = norvo::service::hr;
namespace sensors = norvo::sensors;

std::vector<sensors::SensorField> tap_report(std::uint8_t flag) {
    return {{{0, 0, 0, 0, 0, 0, 0, 0}, {}, sensors::SensorValueType::UI4},
            {{flag, 0, 0, 0, 0, 0, 0, 0}, {}, sensors::SensorValueType::UI4}};
}

class SensorStart : public testing::Test {
  protected:
    void SetUp() override {
        rt_ = &FakeRuntime::get();
        norvo::service::RemoteOpen(context_);
        sink_ = norvo::log::CaptureSink::install();
    }
    void TearDown() override {
        if (context_)
            norvo::service::RemoteClose(context_);
    }

    void send_phone(std::optional<float> pulse = std::nullopt) {
        ASSERT_TRUE(context_->phone_event_sender.get()->try_send(PhoneEvent{pulse}));
    }
    void send_report(std::uint8_t flag) {
        rt_->sensors->callbacks()->on_data_updated(tap_report(flag));
    }
    void advance(norvo::Duration d, RunningStart& run) {
        rt_->clock->advance(d);
        run.settle();
    }
    std::int32_t users() const { return norvo::service::connected_user_count.load(); }

    FakeRuntime* rt_ = nullptr;
    std::shared_ptr<norvo::log::CaptureSink> sink_;
    ContextHandle context_;
    RecordingCallbacks callbacks_;
};

TEST_F(SensorStart, ComFailureTouchesNothingAndSignalsNothing) {
    rt_->com->fail = true;
    const auto before = users();
    norvo::service::CurrentCallScope scope(callbacks_);
    EXPECT_EQ(norvo::service::NorvoStartSensor(*context_, 9), hr::unexpected);
    EXPECT_EQ(users(), before);
    EXPECT_TRUE(callbacks_.lines().empty());
    EXPECT_FALSE(context_->processing_gate->processing());
    EXPECT_FALSE(context_->stop_sender.get());
    EXPECT_THAT(sink_->messages(),
                ElementsAre("NorvoStartSensor() called",
                            "Failed to initialize COM: Error { code: HRESULT(0x80004005), message: "
                            "\"Unspecified error\" }"));
}

TEST_F(SensorStart, FailuresAfterComSignalTheErrorOnceAndCloseTheChannels) {
    struct Case {
        const char* name;
        bool fail_create;
        std::optional<sensors::SensorError> subscribe_error;
        std::string error_line;
    };
    const Case cases[] = {
        {"manager", true, std::nullopt,
         "Failed to create sensor manager: Win32(Error { code: HRESULT(0x80040154), message: "
         "\"Class not "
         "registered\" })"},
        {"subscribe", false, sensors::SensorError{sensors::SensorError::Kind::InvalidSensorState},
         "Failed to find Vextora sensor: InvalidSensorState"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rt_->sensors->fail_create = c.fail_create;
        rt_->sensors->subscribe_error = c.subscribe_error;
        RecordingCallbacks callbacks;
        sink_->clear();
        const auto before = users();
        {
            norvo::service::CurrentCallScope scope(callbacks);
            EXPECT_EQ(norvo::service::NorvoStartSensor(*context_, 9), hr::unexpected);
        }
        EXPECT_THAT(callbacks.lines(), ElementsAre("SignalReturn 0x8000ffff cookie=9"));
        const auto lines = sink_->messages();
        EXPECT_THAT(lines, Contains(c.error_line));
        EXPECT_EQ(lines.back(), "End of the NorvoStartSensor() called, result: 0x8000ffff");
        EXPECT_EQ(users(), before);
        EXPECT_FALSE(context_->processing_gate->processing());
        EXPECT_FALSE(context_->sensor_manager.get());
        EXPECT_EQ(norvo::service::NorvoStopSensor(*context_), hr::abort);
        EXPECT_EQ(sink_->messages().back(), "Failed to send stop event: Closed(..)");
        EXPECT_EQ(rt_->com->initialized.load(), rt_->com->uninitialized.load());
    }
}

TEST_F(SensorStart, RunConfirmsReportsAndCleansUpAfterStop) {
    const auto before = users();
    RunningStart run(*context_, 7, callbacks_, *rt_->clock);
    run.settle();
    EXPECT_EQ(users(), before + 1);
    EXPECT_EQ(rt_->sensors->live_subscriptions.load(), 1);
    EXPECT_EQ(context_->callback_cookie.get(), 7u);

    send_phone(1.5f);
    run.settle();
    advance(300ms, run);
    send_report(1);
    run.settle();
    EXPECT_EQ(norvo::service::NorvoStopSensor(*context_), hr::ok);
    EXPECT_EQ(run.join(), hr::ok);

    EXPECT_THAT(callbacks_.lines(),
                ElementsAre("SignalReturn 0x0 cookie=7", "TapEvent 1 ts=300 cookie=7"));
    EXPECT_EQ(context_->tap_strength->get(), 1.5f);
    EXPECT_EQ(users(), before);
    EXPECT_EQ(rt_->sensors->live_subscriptions.load(), 0);
    EXPECT_FALSE(context_->sensor_manager.get());
    EXPECT_FALSE(context_->processing_gate->processing());
    const auto lines = sink_->messages();
    EXPECT_THAT(lines, Contains("Phone event received, pulse: 1.5"));
    EXPECT_THAT(lines, Contains("Tap confirmed at 300, sending event"));
    EXPECT_EQ(lines.back(), "End of the NorvoStartSensor() called, result: 0x0");
    EXPECT_EQ(lines[lines.size() - 2], "End of the CorvaneRegisterToEvent()");
}

TEST_F(SensorStart, SimulationSubscribesNothingAndConfirmsEveryPhoneTap) {
    context_->settings->with([](auto& s) { s.simulation_mode = true; });
    RunningStart run(*context_, 3, callbacks_, *rt_->clock);
    run.settle();
    EXPECT_EQ(rt_->sensors->live_subscriptions.load(), 0);
    send_phone();
    run.settle();
    advance(500ms, run);  // the phone tap it left pending runs out silently
    EXPECT_EQ(norvo::service::NorvoStopSensor(*context_), hr::ok);
    EXPECT_EQ(run.join(), hr::ok);
    EXPECT_THAT(callbacks_.lines(),
                ElementsAre("SignalReturn 0x0 cookie=3", "TapEvent 1 ts=0 cookie=3"));
    EXPECT_THAT(sink_->messages(), Contains("Simulation mode, skip sensor registration"));
    EXPECT_THAT(sink_->messages(), Contains("Timeout reached, unconfirmed tap"));
}

TEST_F(SensorStart, UnmatchedLaptopTapTimesOutAtItsDeadline) {
    context_->settings->with([](auto& s) { s.enable_unconfirmed_taps = true; });
    RunningStart run(*context_, 1, callbacks_, *rt_->clock);
    run.settle();
    send_report(1);
    run.settle();
    advance(499ms, run);
    EXPECT_EQ(callbacks_.lines().size(), 1u);  // not yet
    advance(1ms, run);
    EXPECT_EQ(norvo::service::NorvoStopSensor(*context_), hr::ok);
    EXPECT_EQ(run.join(), hr::ok);
    EXPECT_THAT(callbacks_.lines(),
                ElementsAre("SignalReturn 0x0 cookie=1", "TapEvent 4 ts=500 cookie=1"));
}

TEST_F(SensorStart, GoneClientFailsEveryCallbackAndTheLoopGoesOn) {
    callbacks_.fail = true;
    RunningStart run(*context_, 1, callbacks_, *rt_->clock);
    run.settle();
    send_report(1);
    send_phone();
    run.settle();
    send_report(1);
    send_phone();
    run.settle();
    EXPECT_EQ(norvo::service::NorvoStopSensor(*context_), hr::ok);
    EXPECT_EQ(run.join(), hr::ok);
    const auto lines = sink_->messages();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Rpc call SafeNorvoTapEvent failed"), 2);
}

TEST_F(SensorStart, RemoteCloseDuringARunStopsItAndWaits) {
    RunningStart run(*context_, 1, callbacks_, *rt_->clock);
    run.settle();
    norvo::service::RemoteClose(context_);
    EXPECT_FALSE(context_);
    const auto lines = sink_->messages();
    auto at = [&](const std::string& s) {
        return std::find(lines.begin(), lines.end(), s) - lines.begin();
    };
    EXPECT_LT(at("Sensor loop ended"), at("Data processing finished"));
    EXPECT_LT(at("End of the NorvoStartSensor() called, result: 0x0"),
              at("Data processing finished"));
    EXPECT_EQ(run.join(), hr::ok);
}

TEST_F(SensorStart, SecondStartOnTheSameContextEndsTheFirstLoop) {
    RunningStart first(*context_, 1, callbacks_, *rt_->clock);
    first.settle();
    RecordingCallbacks second_callbacks;
    RunningStart second(*context_, 2, second_callbacks, *rt_->clock);
    EXPECT_EQ(first.join(), hr::ok);
    second.settle();
    EXPECT_TRUE(context_->processing_gate->processing());  // the gate counts the second start
    EXPECT_EQ(norvo::service::NorvoStopSensor(*context_), hr::ok);
    EXPECT_EQ(second.join(), hr::ok);
    EXPECT_FALSE(context_->processing_gate->processing());
    EXPECT_THAT(second_callbacks.lines(), ElementsAre("SignalReturn 0x0 cookie=2"));
}

// The first run ends only once the second has subscribed: its clean-up must leave
// the second run's manager and subscription alone.
TEST_F(SensorStart, FirstRunEndingLateLeavesTheSecondRunsSubscription) {
    callbacks_.block();
    RunningStart first(*context_, 1, callbacks_, *rt_->clock);
    callbacks_.wait_until_inside();
    RecordingCallbacks second_callbacks;
    RunningStart second(*context_, 2, second_callbacks, *rt_->clock);
    second.settle();
    callbacks_.unblock();
    EXPECT_EQ(first.join(), hr::ok);

    EXPECT_EQ(rt_->sensors->live_subscriptions.load(), 1);
    EXPECT_TRUE(context_->sensor_manager.get());
    EXPECT_EQ(norvo::service::NorvoStopSensor(*context_), hr::ok);
    EXPECT_EQ(second.join(), hr::ok);
    EXPECT_EQ(rt_->sensors->live_subscriptions.load(), 0);
    EXPECT_FALSE(context_->sensor_manager.get());
}

TEST_F(SensorStart, StopTwiceWhileTheLoopSitsInACallback) {
    callbacks_.block();
    RunningStart run(*context_, 1, callbacks_, *rt_->clock);
    callbacks_.wait_until_inside();
    EXPECT_EQ(norvo::service::NorvoStopSensor(*context_), hr::ok);
    EXPECT_EQ(norvo::service::NorvoStopSensor(*context_), hr::abort);
    EXPECT_EQ(sink_->messages().back(), "Failed to send stop event: Full(..)");
    callbacks_.unblock();
    EXPECT_EQ(run.join(), hr::ok);
    const auto lines = sink_->messages();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Stop message receive, exiting sensor loop"),
              1);
}

// A client stuck in a callback: the sensor's posts return at once, the run holds at
// most the queue's capacity, the rest is counted for the client and logged once.
TEST_F(SensorStart, StuckClientBoundsTheQueueAndCountsWhatIsDropped) {
    using norvo::service::kSensorQueueCapacity;
    constexpr std::uint64_t kDropped = 100;
    const auto dropped = [&] {
        std::int32_t size = 0;
        std::array<std::uint8_t, 8> bytes{};
        EXPECT_EQ(norvo::service::NorvoQueryProperty(*context_, 10, size, std::span(bytes)),
                  hr::ok);
        EXPECT_EQ(size, 8);
        std::uint64_t count = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i) count |= std::uint64_t{bytes[i]} << (8 * i);
        return count;
    };
    const auto count = [&](const std::string& line) {
        const auto lines = sink_->messages();
        return std::count(lines.begin(), lines.end(), line);
    };
    callbacks_.block();
    RunningStart run(*context_, 1, callbacks_, *rt_->clock);
    callbacks_.wait_until_inside();
    for (std::uint64_t i = 0; i < kSensorQueueCapacity + kDropped; ++i) send_report(1);
    EXPECT_EQ(dropped(), kDropped);
    EXPECT_EQ(count("Sensor queue full, dropped 100 sensor reports"), 0);

    callbacks_.unblock();
    run.settle();
    EXPECT_EQ(count("Laptop tap detected at: 0"), kSensorQueueCapacity);
    send_report(0);  // taken again: the burst has ended
    send_report(0);
    EXPECT_EQ(count("Sensor queue full, dropped 100 sensor reports"), 1);
    EXPECT_EQ(dropped(), kDropped);
    EXPECT_EQ(norvo::service::NorvoStopSensor(*context_), hr::ok);
    EXPECT_EQ(run.join(), hr::ok);
}

}  // namespace

namespace {

// Runs in a fresh child process, where nothing has published the runtime.
TEST(SensorStartDeathTest, EmptyRuntimeSlotIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ContextHandle handle;
    norvo::service::RemoteOpen(handle);
    EXPECT_DEATH((void)norvo::service::NorvoStartSensor(*handle, 1),
                 "RUNTIME_HANDLE must be initialized");
    norvo::service::RemoteClose(handle);
}

}  // namespace
