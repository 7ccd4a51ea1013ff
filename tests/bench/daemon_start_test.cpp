#include <gtest/gtest.h>

#include "daemon.hpp"
#include "sensor_device.hpp"

namespace norvo::bench {
namespace {

using namespace std::chrono_literals;

// A start that can never serve must end with the reason, never hang until the guard.
TEST(DaemonStart, ProgramThatEndsOrCannotRunIsReported) {
    const struct {
        const char* program;
        const char* reason;
    } cases[] = {
        {"/bin/false", "ended before serving"},
        {"/nonexistent/norvo-vtapd", "cannot run"},
    };
    for (const auto& c : cases) {
        const auto daemon = Daemon::start(c.program, 60s);
        ASSERT_FALSE(daemon) << c.program;
        EXPECT_NE(daemon.error().find(c.reason), std::string::npos) << daemon.error();
    }
}

TEST(SensorDevice, NoDaemonListeningIsAnError) {
    const auto folder = TempFolder::make();
    ASSERT_TRUE(folder);
    const auto sensor = SensorDevice::enter(folder->path() / "sensor");
    ASSERT_FALSE(sensor);
    EXPECT_NE(sensor.error().find("cannot reach the device socket"), std::string::npos);
}

}  // namespace
}  // namespace norvo::bench
