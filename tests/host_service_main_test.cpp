#include <gtest/gtest.h>

#include <thread>

#include "norvo/host/control_handler.hpp"
#include "norvo/host/service_main.hpp"
#include "norvo/log_capture.hpp"

namespace norvo::host {
namespace {

// What the platform was asked to do, in order.
struct Journal {
    std::mutex mutex;
    std::vector<std::string> steps;
    void add(std::string step) {
        std::lock_guard lock(mutex);
        steps.push_back(std::move(step));
    }
};

class FakeStatus final : public StatusReporter {
  public:
    FakeStatus(Journal& journal, int fail_on) : journal_(journal), fail_on_(fail_on) {}
    [[nodiscard]] std::expected<void, HostError> set_status(const ServiceStatus& s) override {
        journal_.add(fmt::format("status {} 0x{:X}", s.current_state, s.controls_accepted));
        if (++calls_ == fail_on_) {
            return std::unexpected(
                platform_call_error("denied").context("Failed to set service status"));
        }
        return {};
    }

  private:
    Journal& journal_;
    int fail_on_;
    int calls_ = 0;
};

class FakeServer final : public RpcServerHandle {
  public:
    FakeServer(Journal& journal, bool fail_stop) : journal_(journal), fail_stop_(fail_stop) {}
    ~FakeServer() override { journal_.add("rpc released"); }
    [[nodiscard]] std::expected<void, RpcError> stop() override {
        journal_.add("rpc stop");
        if (fail_stop_)
            return std::unexpected(RpcError::from_status(1717));
        return {};
    }

  private:
    Journal& journal_;
    bool fail_stop_;
};

struct FakePlatform final : public ServicePlatform {
    Journal journal;
    std::optional<BlockingReceiver<ControlEvent>> events;
    bool fail_create = false, fail_runtime = false, fail_rpc_start = false, fail_rpc_stop = false;
    int fail_status_call = 0;  // 1-based; 0: never

    [[nodiscard]] std::expected<ServiceObject, HostError> create_service_object() override {
        journal.add("create");
        if (fail_create)
            return std::unexpected(platform_call_error("no handler"));
        return ServiceObject{std::move(*events),
                             std::make_unique<FakeStatus>(journal, fail_status_call)};
    }
    [[nodiscard]] std::expected<void, HostError> start_runtime() override {
        journal.add("runtime");
        if (fail_runtime)
            return std::unexpected(HostError("no threads"));
        return {};
    }
    [[nodiscard]] std::expected<std::unique_ptr<RpcServerHandle>, RpcError> start_rpc_server()
        override {
        journal.add("rpc start");
        if (fail_rpc_start)
            return std::unexpected(RpcError::from_status(1740));
        return std::make_unique<FakeServer>(journal, fail_rpc_stop);
    }
};

class ServiceMainTest : public ::testing::Test {
  protected:
    ServiceMainTest() { fresh(); }

    // A new platform and control channel, and an empty log.
    void fresh() {
        auto [tx, rx] = blocking_channel<ControlEvent>(kControlChannelCapacity);
        handler.emplace(std::move(tx));
        platform = std::make_unique<FakePlatform>();
        platform->events.emplace(std::move(rx));
        sink->clear();
    }

    // Runs the service while the dispatcher delivers `controls` (`event_data` for each); true
    // when the run ended without an error.
    [[nodiscard]] bool run(std::vector<std::uint32_t> controls, std::uint32_t event_type = 0,
                           const void* event_data = nullptr) {
        std::thread dispatcher([&] {
            for (auto control : controls) handler->handle(control, event_type, event_data);
        });
        const bool succeeded = run_service(*platform).has_value();
        dispatcher.join();
        return succeeded;
    }

    std::vector<std::string> info_and_error_lines() const {
        std::vector<std::string> lines;
        for (const auto& r : sink->records()) {
            if (r.level <= log::Level::Info)
                lines.push_back(r.message);
        }
        return lines;
    }

    std::shared_ptr<log::CaptureSink> sink = log::CaptureSink::install();
    std::optional<ControlHandler> handler;
    std::unique_ptr<FakePlatform> platform;
};

using Lines = std::vector<std::string>;

TEST_F(ServiceMainTest, StopEndsARunningService) {
    EXPECT_TRUE(run({1}));
    EXPECT_EQ(platform->journal.steps, Lines({"create", "status 4 0x7FF", "runtime", "rpc start",
                                              "rpc stop", "rpc released", "status 1 0x0"}));
    EXPECT_EQ(info_and_error_lines(),
              Lines({"Application start", "RpcServer created", "Service stop", "RpcServer stopped",
                     "Application stop"}));
}

TEST_F(ServiceMainTest, PauseAndContinueReportTheirStatusesAndKeepServing) {
    EXPECT_TRUE(run({2, 3, 2, 1}));
    EXPECT_EQ(platform->journal.steps, Lines({"create", "status 4 0x7FF", "runtime", "rpc start",
                                              "status 7 0x3", "status 4 0x7FF", "status 7 0x3",
                                              "rpc stop", "rpc released", "status 1 0x0"}));
    EXPECT_EQ(info_and_error_lines(),
              Lines({"Application start", "RpcServer created", "Service pause", "Service continue",
                     "Service pause", "Service stop", "RpcServer stopped", "Application stop"}));
}

TEST_F(ServiceMainTest, ShutdownAndPreshutdownStopThroughTheClosedChannel) {
    for (std::uint32_t ending : {5u, 15u}) {
        fresh();
        EXPECT_TRUE(run({ending}));
        EXPECT_EQ(info_and_error_lines(), Lines({"Application start", "RpcServer created",
                                                 "RpcServer stopped", "Application stop"}));
        EXPECT_EQ(platform->journal.steps.back(), "status 1 0x0");
    }
}

TEST_F(ServiceMainTest, OtherControlsChangeNothing) {
    EXPECT_TRUE(run({4, 6, 7, 16, 32, 200, 1}));
    EXPECT_EQ(info_and_error_lines(),
              Lines({"Application start", "RpcServer created", "Service stop", "RpcServer stopped",
                     "Application stop"}));
    EXPECT_EQ(platform->journal.steps.size(), 7u);
}

TEST_F(ServiceMainTest, PowerAndSessionEventsAreLogged) {
    const std::uint32_t session[2] = {8, 3};
    std::thread dispatcher([&] {
        handler->handle(13, 0x4, nullptr);
        handler->handle(14, 7, session);
        handler->handle(1, 0, nullptr);
    });
    EXPECT_TRUE(run_service(*platform).has_value());
    dispatcher.join();
    EXPECT_EQ(info_and_error_lines(),
              Lines({"Application start", "RpcServer created", "Power event: Suspend",
                     "Session change: SessionChangeParam { reason: SessionLock, notification: "
                     "SessionNotification "
                     "{ size: 8, session_id: 3 } }",
                     "Service stop", "RpcServer stopped", "Application stop"}));
}

TEST_F(ServiceMainTest, FailuresEndTheRunWithTheirOutermostMessage) {
    struct Case {
        std::string name;
        void (*arrange)(FakePlatform&);
        std::vector<std::uint32_t> controls;
        std::string error;
        Lines steps;
    };
    const std::vector<Case> cases = {
        {"handler registration",
         [](FakePlatform& p) { p.fail_create = true; },
         {},
         "Failed to create service object",
         {"create"}},
        {"running status",
         [](FakePlatform& p) { p.fail_status_call = 1; },
         {},
         "Failed to set service status",
         {"create", "status 4 0x7FF"}},
        {"runtime",
         [](FakePlatform& p) { p.fail_runtime = true; },
         {},
         "Failed to build async runtime",
         {"create", "status 4 0x7FF", "runtime"}},
        {"rpc start",
         [](FakePlatform& p) { p.fail_rpc_start = true; },
         {},
         "Failed to run service",
         {"create", "status 4 0x7FF", "runtime", "rpc start", "status 1 0x0"}},
        {"pause status",
         [](FakePlatform& p) { p.fail_status_call = 2; },
         {2},
         "Failed to run service",
         {"create", "status 4 0x7FF", "runtime", "rpc start", "status 7 0x3", "rpc released",
          "status 1 0x0"}},
        {"rpc stop",
         [](FakePlatform& p) { p.fail_rpc_stop = true; },
         {1},
         "Failed to run service",
         {"create", "status 4 0x7FF", "runtime", "rpc start", "rpc stop", "rpc released",
          "status 1 0x0"}},
        {"stopped status",
         [](FakePlatform& p) { p.fail_status_call = 2; },
         {1},
         "Failed to set service status",
         {"create", "status 4 0x7FF", "runtime", "rpc start", "rpc stop", "rpc released",
          "status 1 0x0"}},
    };
    for (const auto& c : cases) {
        fresh();
        c.arrange(*platform);
        EXPECT_FALSE(run(c.controls)) << c.name;
        EXPECT_EQ(platform->journal.steps, c.steps) << c.name;
        const auto lines = info_and_error_lines();
        ASSERT_GE(lines.size(), 3u) << c.name;
        EXPECT_EQ(lines[lines.size() - 2], "Application exited with an error: " + c.error)
            << c.name;
        EXPECT_EQ(lines.back(), "Application stop") << c.name;
    }
}

}  // namespace
}  // namespace norvo::host
