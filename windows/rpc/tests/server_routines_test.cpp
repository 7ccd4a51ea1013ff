// The service routines called directly, the way the Windows runtime calls them where Wine's
// cannot: concurrently on one handle, and the rundown of a context whose start is running.

#include "client_session.hpp"
#include "test_service.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "norvo/windows/rpc/rpc_guard.h"

namespace norvo::windows::rpc::test {
namespace {

class ServiceRoutines : public ::testing::Test {
  protected:
    void SetUp() override {
        log().clear();
        test_service().sensors->simulated_manager = true;
    }

    LogWatch& log() { return *test_service().log; }

    // An open context set to simulation mode.
    static PCONTEXT_HANDLE_TYPE open_simulated() {
        PCONTEXT_HANDLE_TYPE context = nullptr;
        vtap_s_RemoteOpen(nullptr, &context);
        PROPERTY_BUFFER on{1, {1}};
        EXPECT_EQ(vtap_s_NorvoSetProperty(context, PROPERTY_KEY{key::simulation_mode}, &on), 0);
        return context;
    }
};

TEST_F(ServiceRoutines, StopOnTheHandleOfARunningStartEndsIt) {
    auto context = open_simulated();
    long started = -1;
    std::thread start([&] { started = vtap_s_NorvoStartSensor(context, 5); });
    ASSERT_TRUE(log().wait_for("Sensor loop started"));

    EXPECT_EQ(vtap_s_NorvoStopSensor(context), 0);
    start.join();
    EXPECT_EQ(started, 0);
    EXPECT_TRUE(log().logged("Stop message receive, exiting sensor loop"));

    vtap_s_RemoteClose(&context);
    EXPECT_EQ(context, nullptr);
}

TEST_F(ServiceRoutines, RundownStopsARunningStartWaitsForItAndForgetsTheContext) {
    auto context = open_simulated();
    long started = -1;
    std::thread start([&] { started = vtap_s_NorvoStartSensor(context, 5); });
    ASSERT_TRUE(log().wait_for("Sensor loop started"));

    PCONTEXT_HANDLE_TYPE_rundown(context);
    EXPECT_TRUE(log().logged("Data processing finished"));
    start.join();
    EXPECT_EQ(started, 0);

    // Only the address is looked at: a call naming a context that is gone finds none.
    EXPECT_EQ(vtap_s_NorvoStopSensor(context), result::unexpected);
    log().clear();
    auto stale = context;
    vtap_s_RemoteClose(&stale);
    EXPECT_EQ(stale, nullptr);
    EXPECT_FALSE(log().logged("RemoteClose() called"));
}

// Wine has no Sensor API: starts in simulation mode stand in for one user's running starts.
// Called directly, with no client token, they share one account.
TEST_F(ServiceRoutines, StartsOverTheUsersQuotaAreRefusedAndServedOnceOneEnds) {
    std::vector<PCONTEXT_HANDLE_TYPE> contexts;
    for (std::size_t i = 0; i <= kTestStartsPerUser; ++i) contexts.push_back(open_simulated());
    std::vector<long> results(contexts.size(), -1);
    std::vector<std::thread> running;
    for (std::size_t i = 0; i < kTestStartsPerUser; ++i)
        running.emplace_back([&, i] { results[i] = vtap_s_NorvoStartSensor(contexts[i], 1); });
    ASSERT_TRUE(log().wait_for("Sensor loop started", kTestStartsPerUser));

    const auto last = contexts.size() - 1;
    const auto refused =
        guarded([&] { results[last] = vtap_s_NorvoStartSensor(contexts[last], 2); });
    EXPECT_EQ(refused, std::unexpected(std::uint32_t{RPC_S_SERVER_TOO_BUSY}));
    EXPECT_EQ(results[last], -1);
    EXPECT_TRUE(log().logged(fmt::format(
        "Account unidentified caller holds its {} running starts, the most one user may: more "
        "are refused",
        kTestStartsPerUser)));

    EXPECT_EQ(vtap_s_NorvoStopSensor(contexts[0]), 0);
    running[0].join();
    running[0] = std::thread([&] { results[last] = vtap_s_NorvoStartSensor(contexts[last], 2); });
    ASSERT_TRUE(log().wait_for("Sensor loop started", kTestStartsPerUser + 1));
    for (std::size_t i = 1; i < contexts.size(); ++i)
        EXPECT_EQ(vtap_s_NorvoStopSensor(contexts[i]), 0);
    for (auto& thread : running) thread.join();
    EXPECT_EQ(results, std::vector<long>(contexts.size(), 0));
    for (auto& context : contexts) vtap_s_RemoteClose(&context);
}

TEST_F(ServiceRoutines, CloseOfANullHandleIsLoggedAndHarmless) {
    PCONTEXT_HANDLE_TYPE none = nullptr;
    vtap_s_RemoteClose(&none);
    EXPECT_TRUE(log().logged("RemoteClose() called with null context"));
}

}  // namespace
}  // namespace norvo::windows::rpc::test
