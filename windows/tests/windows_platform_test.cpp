// The Win32 pieces that run in-process: clock, ETW records, control data, event-log strings.

#include "norvo/host/control_decoder.hpp"
#include "norvo/windows/etw_provider.hpp"
#include "norvo/windows/event_log.hpp"
#include "norvo/windows/qpc_clock.hpp"

#include <gtest/gtest.h>

#include <winuser.h>

#include <cstring>
#include <thread>

namespace norvo::windows {
namespace {

using namespace std::chrono_literals;

TEST(QpcClock, WakeupsKeepANotificationAndHonourDeadlines) {
    QpcClock clock;
    const auto before = clock.now();
    auto wakeup = clock.make_wakeup();
    wakeup->notify();
    wakeup->wait(std::nullopt);  // returns at once: the notification was kept

    const auto deadline = clock.now() + 20ms;
    wakeup->wait(deadline);
    EXPECT_GE(clock.now(), deadline);
    EXPECT_GE(clock.now(), before);

    std::thread notifier([&] { wakeup->notify(); });
    wakeup->wait(clock.now() + 1h);
    notifier.join();
}

TEST(EtwProvider, RecordsBecomeThePlatformsDescriptors) {
    const auto descriptor = to_platform(host::etw::descriptor_for(log::Level::Warn));
    EXPECT_EQ(descriptor.Id, 0);
    EXPECT_EQ(descriptor.Version, 0);
    EXPECT_EQ(descriptor.Channel, 11);
    EXPECT_EQ(descriptor.Level, 3);
    EXPECT_EQ(descriptor.Opcode, 0);
    EXPECT_EQ(descriptor.Task, 0);
    EXPECT_EQ(descriptor.Keyword, 0x23u);

    const log::Record record{log::Level::Warn, "rpc_server", "a.cpp", 9, "hello"};
    const host::etw::EventData data(record);
    const auto platform = to_platform(data.descriptors());
    const std::uint32_t types[] = {2, 1, 0, 0, 0,
                                   0, 0, 0, 0};  // the type is the reserved word's low byte
    for (std::size_t i = 0; i < platform.size(); ++i) {
        EXPECT_EQ(platform[i].Ptr, reinterpret_cast<ULONGLONG>(data.descriptors()[i].data)) << i;
        EXPECT_EQ(platform[i].Size, data.descriptors()[i].size) << i;
        EXPECT_EQ(platform[i].Reserved, types[i]) << i;
    }
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(platform[3].Ptr), platform[3].Size),
              "hello");
}

Guid to_guid(const GUID& g) {
    Guid out{g.Data1, g.Data2, g.Data3, {}};
    std::memcpy(out.data4.data(), g.Data4, 8);
    return out;
}

TEST(FatalReporting, GetThreadDescriptionIsFoundAtRunTimeAndTheIdStandsInWithoutIt) {
    EXPECT_NE(resolve_thread_description(), nullptr);
    EXPECT_EQ(own_thread_name(nullptr), std::to_string(GetCurrentThreadId()));
}

TEST(ControlData, PowerSettingIdentifiersAreThePlatforms) {
    namespace ps = host::power_setting;
    EXPECT_EQ(ps::kAcdcPowerSource, to_guid(GUID_ACDC_POWER_SOURCE));
    EXPECT_EQ(ps::kBatteryPercentageRemaining, to_guid(GUID_BATTERY_PERCENTAGE_REMAINING));
    EXPECT_EQ(ps::kConsoleDisplayState, to_guid(GUID_CONSOLE_DISPLAY_STATE));
    EXPECT_EQ(ps::kGlobalUserPresence, to_guid(GUID_GLOBAL_USER_PRESENCE));
    EXPECT_EQ(ps::kIdleBackgroundTask, to_guid(GUID_IDLE_BACKGROUND_TASK));
    EXPECT_EQ(ps::kMonitorPowerOn, to_guid(GUID_MONITOR_POWER_ON));
    EXPECT_EQ(ps::kPowerSchemePersonality, to_guid(GUID_POWERSCHEME_PERSONALITY));
    EXPECT_EQ(ps::kSystemAwayMode, to_guid(GUID_SYSTEM_AWAYMODE));
    EXPECT_EQ(ps::kLidSwitchStateChange, to_guid(GUID_LIDSWITCH_STATE_CHANGE));
    EXPECT_EQ(ps::kMinPowerSavings, to_guid(GUID_MIN_POWER_SAVINGS));
    EXPECT_EQ(ps::kMaxPowerSavings, to_guid(GUID_MAX_POWER_SAVINGS));
    EXPECT_EQ(ps::kTypicalPowerSavings, to_guid(GUID_TYPICAL_POWER_SAVINGS));
}

TEST(ControlData, DecodesThePlatformsEventRecords) {
    alignas(POWERBROADCAST_SETTING) std::byte storage[sizeof(POWERBROADCAST_SETTING) + 4]{};
    auto* setting = reinterpret_cast<POWERBROADCAST_SETTING*>(storage);
    setting->PowerSetting = GUID_CONSOLE_DISPLAY_STATE;
    setting->DataLength = sizeof(DWORD);
    const DWORD dimmed = 2;
    std::memcpy(setting->Data, &dimmed, sizeof dimmed);
    const auto power =
        host::decode_control(SERVICE_CONTROL_POWEREVENT, PBT_POWERSETTINGCHANGE, setting);
    ASSERT_TRUE(power);
    EXPECT_EQ(fmt::format("{}", *power),
              "PowerEvent(PowerSettingChange(ConsoleDisplayState(Dimmed)))");

    WTSSESSION_NOTIFICATION session{sizeof(WTSSESSION_NOTIFICATION), 2};
    const auto logon =
        host::decode_control(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, &session);
    ASSERT_TRUE(logon);
    EXPECT_EQ(fmt::format("{}", *logon),
              "SessionChange(SessionChangeParam { reason: SessionLogon, notification: "
              "SessionNotification { "
              "size: 8, session_id: 2 } })");
}

TEST(EventLog, OneWideStringPerReportLine) {
    const auto strings =
        event_log_strings("thread 'main' panicked at C:\\src\\main.cpp:3:9:\r\nBad \xC3\xA9tat\n");
    EXPECT_EQ(strings, (std::vector<std::wstring>{
                           L"thread 'main' panicked at C:\\src\\main.cpp:3:9:", L"Bad \u00E9tat"}));
}

}  // namespace
}  // namespace norvo::windows
