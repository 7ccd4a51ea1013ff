#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "norvo/host/control_decoder.hpp"
#include "norvo/host/control_handler.hpp"
#include "norvo/log_capture.hpp"

namespace norvo::host {
namespace {

std::string render(const std::optional<ControlEvent>& event) {
    return event ? fmt::format("{}", *event) : "undecodable";
}

std::string decode(std::uint32_t control, std::uint32_t event_type = 0,
                   const void* data = nullptr) {
    return render(decode_control(control, event_type, data));
}

// A POWERBROADCAST_SETTING: setting GUID, data length, data.
std::vector<std::byte> power_setting(const Guid& setting, const std::vector<std::uint32_t>& words) {
    std::vector<std::byte> bytes(20 + words.size() * 4);
    std::memcpy(bytes.data(), &setting, 16);
    const auto length = static_cast<std::uint32_t>(words.size() * 4);
    std::memcpy(bytes.data() + 16, &length, 4);
    if (!words.empty())
        std::memcpy(bytes.data() + 20, words.data(), length);
    return bytes;
}

std::vector<std::byte> scheme_setting(const Guid& scheme) {
    std::vector<std::uint32_t> words(4);
    std::memcpy(words.data(), &scheme, 16);
    return power_setting(power_setting::kPowerSchemePersonality, words);
}

TEST(ControlDecoder, DecodesEveryControlTheServiceKnows) {
    const std::vector<std::pair<std::uint32_t, std::string>> plain = {
        {1, "Stop"},
        {2, "Pause"},
        {3, "Continue"},
        {4, "Interrogate"},
        {5, "Shutdown"},
        {6, "ParamChange"},
        {7, "NetBindAdd"},
        {8, "NetBindRemove"},
        {9, "NetBindEnable"},
        {10, "NetBindDisable"},
        {15, "Preshutdown"},
        {16, "TimeChange"},
        {32, "TriggerEvent"},
        {128, "UserEvent(UserEventCode(128))"},
        {255, "UserEvent(UserEventCode(255))"},
    };
    for (const auto& [control, text] : plain) EXPECT_EQ(decode(control), text) << control;

    EXPECT_EQ(decode(12, 0x17), "HardwareProfileChange(QueryChangeConfig)");
    EXPECT_EQ(decode(12, 0x18), "HardwareProfileChange(ConfigChanged)");
    EXPECT_EQ(decode(12, 0x19), "HardwareProfileChange(ConfigChangeCanceled)");

    const std::vector<std::pair<std::uint32_t, std::string>> power = {
        {0x0, "QuerySuspend"},      {0x2, "QuerySuspendFailed"}, {0x4, "Suspend"},
        {0x6, "ResumeCritical"},    {0x7, "ResumeSuspend"},      {0x9, "BatteryLow"},
        {0xA, "PowerStatusChange"}, {0xB, "OemEvent"},           {0x12, "ResumeAutomatic"},
    };
    for (const auto& [type, text] : power)
        EXPECT_EQ(decode(13, type), "PowerEvent(" + text + ")") << type;
}

TEST(ControlDecoder, RefusesWhatItCannotDecode) {
    for (std::uint32_t control : {0u, 11u, 17u, 31u, 33u, 127u, 256u, 0xFFFFFFFFu}) {
        EXPECT_EQ(decode(control), "undecodable") << control;
    }
    EXPECT_EQ(decode(12, 0x16), "undecodable");
    EXPECT_EQ(decode(12, 0x1A), "undecodable");
    EXPECT_EQ(decode(13, 0x1), "undecodable");
    EXPECT_EQ(decode(13, 0x8013, nullptr), "undecodable");
    const std::uint32_t session[2] = {8, 2};
    EXPECT_EQ(decode(14, 0, session), "undecodable");
    EXPECT_EQ(decode(14, 12, session), "undecodable");
    EXPECT_EQ(decode(14, 5, nullptr), "undecodable");
}

TEST(ControlDecoder, ReadsSessionChangesFromTheEventData) {
    const std::uint32_t session[2] = {8, 2};
    EXPECT_EQ(decode(14, 5, session),
              "SessionChange(SessionChangeParam { reason: SessionLogon, notification: "
              "SessionNotification { "
              "size: 8, session_id: 2 } })");
    EXPECT_EQ(decode(14, 1, session).substr(0, 43), "SessionChange(SessionChangeParam { reason: ");
    EXPECT_NE(decode(14, 1, session).find("ConsoleConnect"), std::string::npos);
    EXPECT_NE(decode(14, 11, session).find("SessionTerminate"), std::string::npos);
}

TEST(ControlDecoder, ReadsPowerSettingsFromTheEventData) {
    namespace ps = power_setting;
    struct Case {
        std::vector<std::byte> data;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {power_setting(ps::kAcdcPowerSource, {2}), "AcdcPowerSource(Hot)"},
        {power_setting(ps::kBatteryPercentageRemaining, {57}), "BatteryPercentageRemaining(57)"},
        {power_setting(ps::kConsoleDisplayState, {2}), "ConsoleDisplayState(Dimmed)"},
        {power_setting(ps::kGlobalUserPresence, {2}), "GlobalUserPresence(Inactive)"},
        {power_setting(ps::kGlobalUserPresence, {1}), "undecodable"},
        {power_setting(ps::kIdleBackgroundTask, {}), "IdleBackgroundTask"},
        {power_setting(ps::kMonitorPowerOn, {1}), "MonitorPowerOn(true)"},
        {power_setting(ps::kMonitorPowerOn, {2}), "undecodable"},
        {power_setting(ps::kPowerSavingStatus, {0}), "PowerSavingStatus(Off)"},
        {power_setting(ps::kSystemAwayMode, {1}), "SystemAwayMode(Entering)"},
        {power_setting(ps::kLidSwitchStateChange, {0}), "LidSwitchStateChange(Closed)"},
        {power_setting(ps::kLidSwitchStateChange, {3}), "undecodable"},
        {power_setting(ps::kConsoleDisplayState, {}), "undecodable"},  // no value in the data
        {scheme_setting(ps::kMinPowerSavings), "PowerSchemePersonality(HighPerformance)"},
        {scheme_setting(ps::kMaxPowerSavings), "PowerSchemePersonality(PowerSaver)"},
        {scheme_setting(ps::kTypicalPowerSavings), "PowerSchemePersonality(Automatic)"},
        {scheme_setting(ps::kAcdcPowerSource), "undecodable"},
        {power_setting(Guid{1, 2, 3, {}}, {0}), "undecodable"},
    };
    for (const auto& c : cases) {
        const auto event = decode_control(13, 0x8013, c.data.data());
        EXPECT_EQ(
            event ? fmt::format("{}", std::get<PowerEvent>(event->value)) : "undecodable",
            c.expected == "undecodable" ? c.expected : "PowerSettingChange(" + c.expected + ")");
    }
}

class ControlHandlerTest : public ::testing::Test {
  protected:
    ControlHandlerTest() {
        auto [tx, rx] = blocking_channel<ControlEvent>(kControlChannelCapacity);
        handler.emplace(std::move(tx));
        events.emplace(std::move(rx));
    }

    std::shared_ptr<log::CaptureSink> sink = log::CaptureSink::install();
    std::optional<ControlHandler> handler;
    std::optional<BlockingReceiver<ControlEvent>> events;
};

TEST_F(ControlHandlerTest, LogsForwardsAndAnswersDecodedControls) {
    EXPECT_EQ(handler->handle(130, 0, nullptr), kNoError);
    EXPECT_EQ(events->recv(), ControlEvent{UserEventCode{130}});
    EXPECT_EQ(handler->handle(4, 0, nullptr), kNoError);
    EXPECT_EQ(events->recv(), ControlEvent{PlainControl::Interrogate});
    EXPECT_EQ(handler->handle(11, 0, nullptr), kCallNotImplemented);
    EXPECT_EQ(handler->handle(13, 0x1, nullptr), kCallNotImplemented);

    const auto records = sink->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message, "Service control event: UserEvent(UserEventCode(130))");
    EXPECT_EQ(records[0].level, log::Level::Trace);
    EXPECT_EQ(records[0].target, "QuelVextoraService");
    EXPECT_EQ(records[1].message, "Service control event: Interrogate");
}

TEST_F(ControlHandlerTest, ClosesTheChannelAfterEachEndingControl) {
    for (std::uint32_t ending : {1u, 5u, 15u}) {
        auto [tx, rx] = blocking_channel<ControlEvent>(kControlChannelCapacity);
        ControlHandler local(std::move(tx));
        EXPECT_EQ(local.handle(ending, 0, nullptr), kNoError);
        EXPECT_TRUE(rx.recv().has_value()) << ending;
        EXPECT_FALSE(rx.recv().has_value()) << ending;  // closed once drained
        // A late control touches no released state and is still answered.
        EXPECT_EQ(local.handle(2, 0, nullptr), kNoError);
        EXPECT_FALSE(rx.recv().has_value());
    }
}

TEST_F(ControlHandlerTest, DropsTheEventWhenTheRunLoopIsGone) {
    events.reset();
    EXPECT_EQ(handler->handle(2, 0, nullptr), kNoError);
    EXPECT_EQ(sink->messages(), std::vector<std::string>{"Service control event: Pause"});
}

TEST_F(ControlHandlerTest, WaitsWhileTheRunLoopHasNotTakenThePreviousEvent) {
    EXPECT_EQ(handler->handle(2, 0, nullptr), kNoError);
    // The slot is taken by Pause: Continue waits for it instead of being dropped.
    std::thread dispatcher([&] { EXPECT_EQ(handler->handle(3, 0, nullptr), kNoError); });
    EXPECT_EQ(events->recv(), ControlEvent{PlainControl::Pause});
    EXPECT_EQ(events->recv(), ControlEvent{PlainControl::Continue});
    dispatcher.join();
}

TEST(BlockingChannel, ASendBlockedOnAFullChannelFailsWhenTheReceiverGoes) {
    auto [tx, rx] = blocking_channel<int>(1);
    ASSERT_TRUE(tx.send(1));
    std::optional<BlockingReceiver<int>> receiver(std::move(rx));
    bool delivered = true;
    std::thread sender([&] { delivered = tx.send(2); });
    receiver.reset();
    sender.join();
    EXPECT_FALSE(delivered);
}

}  // namespace
}  // namespace norvo::host
