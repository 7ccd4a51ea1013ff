// The service routines called directly, the way the Windows runtime calls them where Wine's
// cannot: concurrently on one handle, the rundown of a context whose start is running, and
// callers Wine's runtime cannot make (one whose token cannot be read).

#include "client_session.hpp"
#include "test_service.hpp"

#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <vector>

#include "norvo/caller_limit.hpp"
#include "norvo/virtual_clock.hpp"
#include "norvo/windows/rpc/caller_quotas.hpp"
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

    // A start that must be refused, on a thread of its own: one that is not refused runs until
    // stopped, which happens here after a bounded wait, failing the test.
    static std::expected<void, std::uint32_t> refused_start(PCONTEXT_HANDLE_TYPE context,
                                                            long& result) {
        auto start = std::async(std::launch::async, [&] {
            return guarded([&] { result = vtap_s_NorvoStartSensor(context, 2); });
        });
        if (start.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << "a start that must be refused runs";
            EXPECT_EQ(vtap_s_NorvoStopSensor(context), 0);
        }
        return start.get();
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

// Wine has no Sensor API: starts in simulation mode stand in for one user's running starts,
// called directly as this process's account.
TEST_F(ServiceRoutines, StartsOverTheUsersQuotaAreRefusedAndServedOnceOneEnds) {
    const auto account = own_account();
    ASSERT_TRUE(account) << account.error();
    std::vector<PCONTEXT_HANDLE_TYPE> contexts;
    for (std::size_t i = 0; i <= kTestStartsPerUser; ++i) contexts.push_back(open_simulated());
    std::vector<long> results(contexts.size(), -1);
    std::vector<std::thread> running;
    for (std::size_t i = 0; i < kTestStartsPerUser; ++i)
        running.emplace_back([&, i] { results[i] = vtap_s_NorvoStartSensor(contexts[i], 1); });
    ASSERT_TRUE(log().wait_for("Sensor loop started", kTestStartsPerUser));

    const auto last = contexts.size() - 1;
    EXPECT_EQ(refused_start(contexts[last], results[last]),
              std::unexpected(std::uint32_t{RPC_S_SERVER_TOO_BUSY}));
    EXPECT_EQ(results[last], -1);
    EXPECT_TRUE(log().logged(fmt::format(
        "Account {} holds its {} running starts, the most one user may: more are refused", *account,
        kTestStartsPerUser)));

    EXPECT_EQ(vtap_s_NorvoStopSensor(contexts[0]), 0);
    running[0].join();
    log().clear();
    running[0] = std::thread([&] { results[last] = vtap_s_NorvoStartSensor(contexts[last], 2); });
    ASSERT_TRUE(log().wait_for("Sensor loop started"));
    for (std::size_t i = 1; i < contexts.size(); ++i)
        EXPECT_EQ(vtap_s_NorvoStopSensor(contexts[i]), 0);
    for (auto& thread : running) thread.join();
    EXPECT_EQ(results, std::vector<long>(contexts.size(), 0));
    for (auto& context : contexts) vtap_s_RemoteClose(&context);
}

// What a caller's calls log takes its account's share of the log: the refusals of the
// routines, the run on the start's thread, and the close or rundown with no call in progress.
// Behind the service's limit its lines stop at the burst and the rest are summed up.
TEST_F(ServiceRoutines, TheLinesACallerCausesAreLimitedAsItsAccounts) {
    const auto account = own_account();
    ASSERT_TRUE(account) << account.error();
    auto context = open_simulated();
    PROPERTY_BUFFER negative{-1, {}};
    EXPECT_EQ(vtap_s_NorvoSetProperty(context, PROPERTY_KEY{key::simulation_mode}, &negative),
              result::invalid_arg);
    long started = -1;
    std::thread start([&] { started = vtap_s_NorvoStartSensor(context, 5); });
    ASSERT_TRUE(log().wait_for("Sensor loop started"));
    PCONTEXT_HANDLE_TYPE_rundown(context);
    start.join();
    EXPECT_EQ(started, 0);
    for (const auto* line :
         {"NorvoSetProperty(): negative size -1 refused", "NorvoStartSensor() called",
          "Stop message receive, exiting sensor loop", "Data processing finished"})
        EXPECT_EQ(log().caller_of(line), *account) << line;

    context = open_simulated();
    log().clear();
    {
        auto limit = std::make_shared<log::CallerLimit>(
            std::make_shared<VirtualClock>(), test_service().log, "host",
            log::LineLimitShape{.burst = 2, .per_second = 1});
        log::set_sink(std::make_shared<log::CallerLimitedSink>(test_service().log, limit));
        for (int i = 0; i < 5; ++i) EXPECT_EQ(vtap_s_NorvoStopSensor(context), result::abort);
        log::set_sink(test_service().log);
    }
    EXPECT_EQ(log().count("Stop channel not initialized"), 2u);
    EXPECT_EQ(log().count("NorvoStopSensor() called"), 5u) << "Debug lines are never held back";
    EXPECT_TRUE(log().logged(fmt::format("3 lines caused by account {} held back", *account)));
    vtap_s_RemoteClose(&context);
}

// A client bound at the anonymous impersonation level has a token no one can open. Wine's
// runtime ignores the level a client asks for: this thread, impersonating itself at that level,
// stands in for it.
TEST_F(ServiceRoutines, ACallerWhoseTokenCannotBeReadIsRefusedBeforeAnythingChanges) {
    auto context = open_simulated();
    {
        DirectCaller anonymous(SecurityAnonymous);
        log().clear();
        PCONTEXT_HANDLE_TYPE opened = nullptr;
        EXPECT_EQ(guarded([&] { vtap_s_RemoteOpen(nullptr, &opened); }),
                  std::unexpected(std::uint32_t{RPC_S_ACCESS_DENIED}));
        EXPECT_EQ(opened, nullptr);
        long started = -1;
        EXPECT_EQ(refused_start(context, started),
                  std::unexpected(std::uint32_t{RPC_S_ACCESS_DENIED}));
        EXPECT_EQ(started, -1);
        EXPECT_FALSE(log().logged("RemoteOpen() called"));
        EXPECT_FALSE(log().logged("NorvoStartSensor() called"));
    }
    // No run began on the context, which serves on.
    EXPECT_EQ(vtap_s_NorvoStopSensor(context), result::abort);
    vtap_s_RemoteClose(&context);
    EXPECT_EQ(context, nullptr);
}

// The service's own limits, as it builds them: only other users' calls count against a share
// and take a share of the log.
TEST(CallerQuotas, TheServicesLimitsCountSystemAndItsOwnAccountTowardsTheTotalsOnly) {
    auto limits = service_limits();
    EXPECT_EQ(limits.contexts_per_user, service::kContextsPerUser);
    EXPECT_EQ(limits.starts_per_user, service::kStartsPerUser);
    EXPECT_EQ(limits.starts, kStartsInAll);
    const auto own = own_account();
    ASSERT_TRUE(own) << own.error();
    limits.contexts_per_user = limits.starts_per_user = 1;  // shares small enough to pass
    CallerQuotas quotas(limits, kRpcClient);
    for (const auto& [account, exempt] : {std::pair<std::string, bool>{kSystemAccount, true},
                                          {*own, true},
                                          {"S-1-5-21-1-2-3-1001", false}}) {
        SCOPED_TRACE(account);
        for (auto* quota : {&quotas.contexts, &quotas.starts}) {
            const auto first = quota->try_enter(account);
            EXPECT_TRUE(first);
            EXPECT_EQ(quota->try_enter(account).has_value(), exempt);
        }
        // Their lines are the service's own, never held back.
        EXPECT_EQ(quotas.log_caller(account), exempt ? "" : account);
    }
}

TEST_F(ServiceRoutines, CloseOfANullHandleIsLoggedAndHarmless) {
    PCONTEXT_HANDLE_TYPE none = nullptr;
    vtap_s_RemoteClose(&none);
    EXPECT_TRUE(log().logged("RemoteClose() called with null context"));
}

}  // namespace
}  // namespace norvo::windows::rpc::test
