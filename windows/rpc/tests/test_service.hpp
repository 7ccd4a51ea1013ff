#pragma once
// The service side of the interface tests, in the test process for the whole run: the
// published runtime, the RPC server, and the log the service writes.

#include "client_session.hpp"
#include "norvo/log.hpp"
#include "norvo/sensorlib/sensor_library.hpp"
#include "norvo/sensors/sensor_library.hpp"
#include "norvo/windows/rpc_server.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace norvo::windows::rpc::test {

// The service's per-user quotas in these tests, small enough to reach; the test user's
// account (the process's own) is counted.
inline constexpr std::size_t kTestContextsPerUser = 24;
inline constexpr std::size_t kTestStartsPerUser = 2;

// Whom the routines see as their caller when a test calls them directly, outside any call of
// the runtime: this thread impersonating itself at `level`. At the anonymous level its token
// cannot be read, as that of a client that binds at that level. Through the runtime, the
// routines see the call's client.
class DirectCaller {
  public:
    explicit DirectCaller(SECURITY_IMPERSONATION_LEVEL level);
    ~DirectCaller();
    DirectCaller(const DirectCaller&) = delete;
    DirectCaller& operator=(const DirectCaller&) = delete;

  private:
    SECURITY_IMPERSONATION_LEVEL previous_;
};

// The service's log lines, waited for as they come.
class LogWatch final : public log::Sink {
  public:
    void write(const log::Record& record) override;
    // Waits, within a bound that turns a hang into a failure, until `message` has been
    // logged `count` times since the last clear.
    bool wait_for(const std::string& message, std::size_t count = 1);
    bool logged(const std::string& message) { return count(message) > 0; }
    std::size_t count(const std::string& message);
    // The account whose share of the log the last such line took (empty: the service's
    // own); none when it was not logged.
    std::optional<std::string> caller_of(const std::string& message);
    void clear();

  private:
    struct Line {
        std::string message;
        std::string caller;
    };
    std::size_t count_locked(const std::string& message) const;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Line> lines_;
};

// The real sensor library; under Wine, with no Sensor API, it fails every start. A start in
// simulation mode subscribes to nothing, so with `simulated_manager` on it gets a manager with no
// sensor behind it.
class TestSensors final : public sensors::SensorLibrary {
  public:
    [[nodiscard]] std::expected<std::unique_ptr<sensors::SensorManager>, sensors::SensorError>
    create_manager() override;
    std::atomic<bool> simulated_manager = false;

  private:
    sensorlib::ComSensorLibrary library_;
};

class TestService final : public ::testing::Environment {
  public:
    void SetUp() override;
    void TearDown() override;

    std::shared_ptr<TestSensors> sensors = std::make_shared<TestSensors>();
    std::shared_ptr<LogWatch> log = std::make_shared<LogWatch>();

  private:
    std::unique_ptr<RpcServer> server_;
};

TestService& test_service();

// A test that calls the service in this process through a binding of its own, with the log
// cleared and no simulated manager.
class ServiceClientTest : public ::testing::Test {
  protected:
    void SetUp() override;
    LogWatch& log() { return *test_service().log; }
    // A newly opened session.
    Session open();

    std::optional<Binding> binding_;
};

}  // namespace norvo::windows::rpc::test
