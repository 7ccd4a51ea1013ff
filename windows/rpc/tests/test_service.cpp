#include "test_service.hpp"

#include "norvo/service/runtime.hpp"
#include "norvo/windows/rpc/caller_quotas.hpp"
#include "norvo/windows/qpc_clock.hpp"
#include "norvo/windows/rpc_interface.hpp"

#include <algorithm>
#include <chrono>

namespace norvo::windows::rpc::test {
namespace {

constexpr auto kPatience = std::chrono::seconds(60);

std::atomic<SECURITY_IMPERSONATION_LEVEL> g_direct_level{SecurityIdentification};
thread_local bool t_direct = false;  // impersonating itself, not a client of the runtime

DWORD impersonate() {
    const RPC_STATUS status = RpcImpersonateClient(nullptr);
    // No call on this thread: Windows says so, Wine calls the binding invalid.
    t_direct = status == RPC_S_NO_CALL_ACTIVE || status == RPC_S_INVALID_BINDING;
    if (!t_direct)
        return static_cast<DWORD>(status);
    return ImpersonateSelf(g_direct_level.load()) ? 0 : GetLastError();
}

DWORD revert() {
    if (!t_direct)
        return static_cast<DWORD>(RpcRevertToSelf());
    return RevertToSelf() ? 0 : GetLastError();
}

struct NoSensor final : sensors::SensorManager {
    [[nodiscard]] std::expected<std::unique_ptr<sensors::SensorSubscription>, sensors::SensorError>
    subscribe(const Guid&, sensors::SensorCallbacks) override {
        return std::unexpected(sensors::SensorError{sensors::SensorError::Kind::SensorNotFound});
    }
};

}  // namespace

DirectCaller::DirectCaller(SECURITY_IMPERSONATION_LEVEL level)
    : previous_(g_direct_level.exchange(level)) {}

DirectCaller::~DirectCaller() {
    g_direct_level = previous_;
}

void LogWatch::write(const log::Record& record) {
    {
        std::lock_guard lock(mutex_);
        lines_.push_back({std::string(record.message), std::string(record.caller)});
    }
    changed_.notify_all();
}

bool LogWatch::wait_for(const std::string& message, std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return count_locked(message) >= count; });
}

std::size_t LogWatch::count(const std::string& message) {
    std::lock_guard lock(mutex_);
    return count_locked(message);
}

std::size_t LogWatch::count_locked(const std::string& message) const {
    return static_cast<std::size_t>(std::ranges::count(lines_, message, &Line::message));
}

std::optional<std::string> LogWatch::caller_of(const std::string& message) {
    std::lock_guard lock(mutex_);
    const auto last = std::ranges::find(lines_.rbegin(), lines_.rend(), message, &Line::message);
    return last == lines_.rend() ? std::nullopt : std::optional(last->caller);
}

void LogWatch::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

std::expected<std::unique_ptr<sensors::SensorManager>, sensors::SensorError>
TestSensors::create_manager() {
    if (!simulated_manager)
        return library_.create_manager();
    return std::make_unique<NoSensor>();
}

void TestService::SetUp() {
    service::RUNTIME_HANDLE.publish(std::make_shared<const service::Runtime>(service::Runtime{
        .clock = std::make_shared<QpcClock>(),
        .com = std::make_shared<sensorlib::MtaApartment>(),
        .sensors = sensors,
    }));
    log::set_max_level(log::Level::Trace);
    log::set_sink(log);
    ASSERT_TRUE(install_caller_quotas(QuotaLimits{.contexts_per_user = kTestContextsPerUser,
                                                  .starts_per_user = kTestStartsPerUser,
                                                  .uncounted = {kSystemAccount}},
                                      Impersonation{impersonate, revert}));
    auto started = RpcServer::start(tap_interface());
    ASSERT_TRUE(started) << fmt::format("{}", started.error());
    server_ = std::move(*started);
}

void TestService::TearDown() {
    server_.reset();
}

void ServiceClientTest::SetUp() {
    log().clear();
    test_service().sensors->simulated_manager = false;
    auto bound = Binding::local();
    ASSERT_TRUE(bound) << "binding failed: " << bound.error();
    binding_.emplace(std::move(*bound));
}

Session ServiceClientTest::open() {
    auto session = Session::open(*binding_);
    EXPECT_TRUE(session) << "RemoteOpen failed: " << session.error();
    EXPECT_NE(session->handle(), nullptr);
    return std::move(*session);
}

TestService& test_service() {
    static auto* service =
        static_cast<TestService*>(::testing::AddGlobalTestEnvironment(new TestService));
    return *service;
}

}  // namespace norvo::windows::rpc::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    norvo::windows::rpc::test::test_service();
    return RUN_ALL_TESTS();
}
