#pragma once
// A sensor library over fake COM objects, with captured log lines and posted messages.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "fakes.hpp"
#include "norvo/log_capture.hpp"
#include "norvo/sensorlib/sensor_library.hpp"

namespace norvo::testing {

inline const std::string kTapIdText = "9B4AA91F-AEBD-4CF2-9565-672E4F0586CB";

class LibraryTest : public ::testing::Test {
  protected:
    void SetUp() override { log_ = log::CaptureSink::install(); }

    // Every reference the library took has been given back.
    void TearDown() override {
        manager_.reset();
        sensor_.reset();
        EXPECT_EQ(live_fakes().load(), 0);
    }

    std::unique_ptr<sensors::SensorManager> make_manager() {
        auto manager = sensorlib::make_sensor_manager(*manager_);
        EXPECT_TRUE(manager.has_value());
        return manager ? std::move(*manager) : nullptr;
    }

    std::unique_ptr<sensors::SensorSubscription> subscribe(sensors::SensorManager& manager) {
        auto subscription =
            manager.subscribe(sensors::tap_sensor::kSensorId, messages_.callbacks());
        EXPECT_TRUE(subscription.has_value()) << fmt::format("{}", subscription.error());
        return subscription ? std::move(*subscription) : nullptr;
    }

    // "LEVEL message" per line of the library's target, at `least` or above.
    std::vector<std::string> logged(log::Level least = log::Level::Trace) const {
        std::vector<std::string> out;
        for (const auto& r : log_->records()) {
            if (r.target == "corvane_windows_sensors::manager" && r.level <= least) {
                out.push_back(fmt::format("{} {}", log::level_name(r.level), r.message));
            }
        }
        return out;
    }
    // The lines an operator reads at the packaged level; Debug and Trace lines only
    // restate the calls.
    std::vector<std::string> notices() const { return logged(log::Level::Info); }

    static ComPtr<FakeReport> tap_report(std::uint8_t flag) {
        return make_fake<FakeReport>(std::vector<FakeValue>{{VT_UI4, {}}, {VT_UI4, {flag}}});
    }

    ComPtr<FakeSensorManager> manager_ = make_fake<FakeSensorManager>();
    ComPtr<FakeSensor> sensor_ = make_fake<FakeSensor>();
    Messages messages_;
    std::shared_ptr<log::CaptureSink> log_;
};

}  // namespace norvo::testing
