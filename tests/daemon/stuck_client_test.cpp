// A client that starts and then never reads its socket, while the sensor reports
// as fast as it can: the daemon's memory stays flat and the drops are logged.

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "daemon.hpp"
#include "daemon_fixture.hpp"
#include "memory.hpp"
#include "norvo/linux/sensor_device_protocol.hpp"
#include "norvo/posix/unix_socket.hpp"
#include "stress_client.hpp"

namespace {

using namespace norvo::testing;
namespace device = norvo::linux_platform::sensor_device;
using Clock = std::chrono::steady_clock;

// Takes the daemon's standard error as it comes, so that a flood of Trace lines
// never stalls it, and waits for a line starting with a prefix.
class LogPump {
  public:
    explicit LogPump(ChildProcess& daemon) : daemon_(daemon), thread_([this] { run(); }) {}
    ~LogPump() {
        daemon_.signal(SIGKILL);
        thread_.join();
    }

    std::optional<std::string> wait_for(std::string_view prefix) {
        std::unique_lock lock(mutex_);
        const auto deadline = Clock::now() + kGuard;
        const auto found = [&] {
            for (const auto& line : wanted_)
                if (line.starts_with(prefix))
                    return true;
            return ended_;
        };
        changed_.wait_until(lock, deadline, found);
        for (const auto& line : wanted_)
            if (line.starts_with(prefix))
                return line;
        return std::nullopt;
    }

  private:
    void run() {
        while (!daemon_.error_ended()) {
            auto line = daemon_.take_error("");
            // Only the lines a test waits for are kept: the Trace flood is not.
            if (!line || line->starts_with("<7>"))
                continue;
            std::lock_guard lock(mutex_);
            wanted_.push_back(std::move(*line));
            changed_.notify_all();
        }
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    ChildProcess& daemon_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> wanted_;
    bool ended_ = false;
    std::thread thread_;
};

long rss_kib(pid_t pid) {
    return norvo::stress::parse_status_field(norvo::stress::read_status(pid), "VmRSS").value_or(0);
}

// Above the 1024 messages a run may hold (about 0.3 MiB, more under ASan's redzones)
// and the allocators' settling; below what one round's reports take when queued.
constexpr long kRssBoundKib = 2 * 1024;
constexpr int kRounds = 5;
constexpr int kReportsPerRound = 20'000;

TEST_F(DaemonTest, MemoryStaysFlatBehindAClientThatStopsReading) {
    auto daemon = std::make_unique<ChildProcess>(
        // At info the log's own queue, bounded apart, does not blur the figure.
        std::vector<std::string>{NORVO_VTAPD_PATH, "--socket", endpoint(), "--sensor-socket",
                                 sensor_socket(), "--log-level", "info"},
        ChildOptions{.env = norvo::stress::sanitizer_env(), .keep_error_lines = false});
    LogPump log(*daemon);
    ASSERT_TRUE(log.wait_for(host_line('6', "RpcServer created")));

    auto sensor = norvo::posix::connect_unix(sensor_socket());
    ASSERT_TRUE(sensor) << fmt::format("{}", sensor.error());
    ASSERT_TRUE(norvo::wire::write_all(sensor->get(), [] {
        const auto line = device::encode(device::Enter{0, 2, "model", "maker"});
        return std::vector<std::uint8_t>(line.begin(), line.end());
    }()));

    auto client = norvo::stress::StressClient::connect(endpoint(), std::chrono::seconds(10));
    ASSERT_TRUE(client) << client.error();
    const auto context = client->open(std::chrono::seconds(10));
    ASSERT_TRUE(context);
    client->send(norvo::wire::call::NorvoStartSensor{*context, 7});
    ASSERT_TRUE(log.wait_for(core_line('6', "Sensor loop started")));

    std::string chunk;
    const auto report = device::encode(device::Report{{{19, {}}, {19, {1}}}});
    for (int i = 0; i < kReportsPerRound / 100; ++i) chunk += report;
    std::vector<std::uint8_t> bytes(chunk.begin(), chunk.end());
    std::vector<long> rss;
    const auto began = Clock::now();
    for (int round = 0; round < kRounds; ++round) {
        for (int i = 0; i < 100; ++i) ASSERT_TRUE(norvo::wire::write_all(sensor->get(), bytes));
        rss.push_back(rss_kib(daemon->pid()));
    }
    const auto seconds = std::chrono::duration<double>(Clock::now() - began).count();
    std::string figures;
    for (const long kib : rss) figures += fmt::format(" {}", kib);
    RecordProperty("rss_kib_per_round", figures);
    fmt::print("{} reports in {:.1f} s ({:.0f}/s); VmRSS KiB per round:{}\n",
               kRounds * kReportsPerRound, seconds, kRounds * kReportsPerRound / seconds, figures);
    EXPECT_EQ(norvo::stress::judge_rss(rss, kRssBoundKib), std::nullopt);

    // The run ends with its client; the burst it dropped is logged with its count.
    client = std::unexpected(std::string("gone"));
    const auto dropped = log.wait_for(core_line('4', "Sensor queue full, dropped "));
    ASSERT_TRUE(dropped);
    const auto count =
        std::stoll(dropped->substr(core_line('4', "Sensor queue full, dropped ").size()));
    EXPECT_GT(count, kRounds * kReportsPerRound / 2) << *dropped;
}

}  // namespace
