#pragma once
// The service hosted in this test process on a real socket, and clients of it:
// the real clock, fake COM and sensors, the RpcServer in a temporary folder,
// and callbacks that a test can wait for or hold.

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "norvo/client/connection.hpp"
#include "norvo/log.hpp"
#include "norvo/rpc/rpc_server.hpp"
#include "support/fake_runtime.hpp"

namespace norvo::testing {

// A COM apartment whose joining a test can hold, to catch a start just after
// its dispatch.
class GatedCom final : public service::ComApartment {
  public:
    [[nodiscard]] std::expected<void, sensors::PlatformError> initialize() override;
    void uninitialize() override {}

    void hold();
    void release();
    void wait_until_held() const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool holding_ = false;
    bool inside_ = false;
};

// Published once per process: the monotonic clock, fake COM and sensors.
struct SocketRuntime {
    std::shared_ptr<GatedCom> com;
    std::shared_ptr<FakeSensorLibrary> sensors;

    static SocketRuntime& get();
};

class TempDir {
  public:
    TempDir();  // reachable by every user, as a service's runtime folder is
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Keeps every log message and lets a test wait for one.
class WaitingSink final : public log::Sink {
  public:
    void write(const log::Record& record) override;
    std::vector<std::string> messages() const;
    std::vector<std::string> messages_of(std::string_view target) const;
    // Until `message` has been logged `count` times in all.
    void wait_for(std::string_view message, std::size_t count = 1) const;

    // Installed at Trace level.
    static std::shared_ptr<WaitingSink> install();

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable logged_;
    std::vector<std::pair<std::string, std::string>> records_;  // target, message
};

class TestService {
  public:
    explicit TestService(transport::Limits limits = {});
    const std::filesystem::path& socket() const { return socket_; }
    std::unique_ptr<client::Connection> connect() const;  // fails the test when refused
    rpc::RpcServer& server() { return *server_; }
    void release() { server_.reset(); }
    // Released, then started again on the same socket, as a restarted service is.
    void restart();

  private:
    void start();

    TempDir dir_;
    std::filesystem::path socket_;
    transport::Limits limits_;
    std::optional<rpc::RpcServer> server_;
};

// Callbacks as transcript lines. While held, a callback waits inside until released.
class CallbackRecorder final : public client::Callbacks {
  public:
    void tap_event(std::int32_t kind, std::uint64_t timestamp, std::uint64_t cookie) override;
    void send_client_event(std::span<const std::uint8_t> packet, std::uint64_t cookie) override;
    void sensor_state_changed(std::uint64_t timestamp, std::uint16_t state,
                              std::uint64_t cookie) override;
    void signal_return(std::int32_t status, std::uint64_t cookie) override;

    std::vector<std::string> lines() const;
    void wait_for_lines(std::size_t count) const;
    void hold();
    void release();
    void wait_until_held() const;

  private:
    void record(std::string line);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
    bool holding_ = false;
    bool inside_ = false;
};

// NorvoStartSensor on a thread of its own.
class ClientStart {
  public:
    ClientStart(client::Connection& connection, client::ContextHandle context, std::uint64_t cookie,
                CallbackRecorder& callbacks);
    ~ClientStart();
    bool returned() const;
    [[nodiscard]] client::Result<client::HRESULT> join();

  private:
    mutable std::mutex mutex_;
    std::optional<client::Result<client::HRESULT>> result_;
    std::thread thread_;
};

// "ts=412" becomes "ts=*": loop timestamps follow the real clock.
std::vector<std::string> without_timestamps(std::vector<std::string> lines);

// Whether `wanted` occur in `all` in this order, other lines in between.
::testing::AssertionResult appear_in_order(const std::vector<std::string>& all,
                                           const std::vector<std::string>& wanted);

// Sensor reports as the tap sensor sends them.
std::vector<sensors::SensorField> tap_report(bool tap);

}  // namespace norvo::testing
