#include "service_harness.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <regex>

#include "norvo/linux/steady_clock.hpp"
#include "norvo/tools/callback_text.hpp"

namespace norvo::testing {
namespace {

// Far beyond a loaded machine's delays: a fault fails the test with what it waited
// for instead of hanging it into CTest's time limit.
constexpr std::chrono::seconds kPatience{20};

template <class Done>
void wait_or_fail(std::condition_variable& changed, std::unique_lock<std::mutex>& lock, Done done,
                  std::string_view what) {
    if (!changed.wait_for(lock, kPatience, done))
        ADD_FAILURE() << "gave up after " << kPatience.count() << " s waiting for " << what;
}

}  // namespace

std::expected<void, sensors::PlatformError> GatedCom::initialize() {
    std::unique_lock lock(mutex_);
    inside_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !holding_; });
    inside_ = false;
    return {};
}

void GatedCom::hold() {
    std::lock_guard lock(mutex_);
    holding_ = true;
}

void GatedCom::release() {
    {
        std::lock_guard lock(mutex_);
        holding_ = false;
    }
    changed_.notify_all();
}

void GatedCom::wait_until_held() const {
    std::unique_lock lock(mutex_);
    wait_or_fail(changed_, lock, [&] { return inside_ && holding_; }, "a start in COM");
}

SocketRuntime& SocketRuntime::get() {
    static SocketRuntime* runtime = [] {
        auto* r =
            new SocketRuntime{std::make_shared<GatedCom>(), std::make_shared<FakeSensorLibrary>()};
        service::RUNTIME_HANDLE.publish(std::make_shared<service::Runtime>(
            service::Runtime{std::make_shared<linux_platform::SteadyClock>(), r->com, r->sensors}));
        return r;
    }();
    return *runtime;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "norvo-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WaitingSink::write(const log::Record& record) {
    {
        std::lock_guard lock(mutex_);
        records_.emplace_back(std::string(record.target), std::string(record.message));
    }
    logged_.notify_all();
}

std::vector<std::string> WaitingSink::messages() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [target, message] : records_) out.push_back(message);
    return out;
}

std::vector<std::string> WaitingSink::messages_of(std::string_view target) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& [t, message] : records_) {
        if (t == target)
            out.push_back(message);
    }
    return out;
}

void WaitingSink::wait_for(std::string_view message, std::size_t count) const {
    std::unique_lock lock(mutex_);
    const auto logged = [&] {
        return static_cast<std::size_t>(std::ranges::count_if(
                   records_, [&](const auto& r) { return r.second == message; })) >= count;
    };
    wait_or_fail(logged_, lock, logged, fmt::format("\"{}\" logged {} times", message, count));
}

std::shared_ptr<WaitingSink> WaitingSink::install() {
    auto sink = std::make_shared<WaitingSink>();
    log::set_max_level(log::Level::Trace);
    log::set_sink(sink);
    return sink;
}

TestService::TestService(transport::Limits limits)
    : socket_(dir_.path() / "NorvoVxtRpcEndpoint"), limits_(limits) {
    SocketRuntime::get();
    start();
}

void TestService::restart() {
    server_.reset();
    start();
}

void TestService::start() {
    auto started =
        rpc::RpcServer::start(socket_, transport::AccessPolicy::for_this_system(), limits_);
    if (!started) {
        ADD_FAILURE() << "the server did not start: " << fmt::format("{}", started.error());
        return;
    }
    server_.emplace(std::move(*started));
}

std::unique_ptr<client::Connection> TestService::connect() const {
    auto connection = client::Connection::connect(socket_);
    if (!connection) {
        ADD_FAILURE() << "connect failed: " << connection.error().describe();
        return nullptr;
    }
    return std::move(*connection);
}

void CallbackRecorder::record(std::string line) {
    std::unique_lock lock(mutex_);
    lines_.push_back(std::move(line));
    inside_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !holding_; });
    inside_ = false;
}

void CallbackRecorder::tap_event(std::int32_t kind, std::uint64_t timestamp, std::uint64_t cookie) {
    record(tools::tap_event_line(kind, timestamp, cookie));
}

void CallbackRecorder::send_client_event(std::span<const std::uint8_t> packet,
                                         std::uint64_t cookie) {
    record(tools::send_client_event_line(packet, cookie));
}

void CallbackRecorder::sensor_state_changed(std::uint64_t timestamp, std::uint16_t state,
                                            std::uint64_t cookie) {
    record(tools::sensor_state_changed_line(timestamp, state, cookie));
}

void CallbackRecorder::signal_return(std::int32_t status, std::uint64_t cookie) {
    record(tools::signal_return_line(status, cookie));
}

std::vector<std::string> CallbackRecorder::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void CallbackRecorder::wait_for_lines(std::size_t count) const {
    std::unique_lock lock(mutex_);
    wait_or_fail(
        changed_, lock, [&] { return lines_.size() >= count; }, fmt::format("{} callbacks", count));
}

void CallbackRecorder::hold() {
    std::lock_guard lock(mutex_);
    holding_ = true;
}

void CallbackRecorder::release() {
    {
        std::lock_guard lock(mutex_);
        holding_ = false;
    }
    changed_.notify_all();
}

void CallbackRecorder::wait_until_held() const {
    std::unique_lock lock(mutex_);
    wait_or_fail(changed_, lock, [&] { return inside_ && holding_; }, "a callback held");
}

ClientStart::ClientStart(client::Connection& connection, client::ContextHandle context,
                         std::uint64_t cookie, CallbackRecorder& callbacks)
    : thread_([&connection, context, cookie, &callbacks, this] {
          auto result = connection.NorvoStartSensor(context, cookie, callbacks);
          std::lock_guard lock(mutex_);
          result_ = result;
      }) {}

ClientStart::~ClientStart() {
    if (thread_.joinable())
        thread_.join();
}

bool ClientStart::returned() const {
    std::lock_guard lock(mutex_);
    return result_.has_value();
}

client::Result<client::HRESULT> ClientStart::join() {
    if (thread_.joinable())
        thread_.join();
    return *result_;
}

std::vector<std::string> without_timestamps(std::vector<std::string> lines) {
    static const std::regex timestamp("ts=[0-9]+");
    for (auto& line : lines) line = std::regex_replace(line, timestamp, "ts=*");
    return lines;
}

::testing::AssertionResult appear_in_order(const std::vector<std::string>& all,
                                           const std::vector<std::string>& wanted) {
    auto next = all.begin();
    for (const auto& line : wanted) {
        next = std::find(next, all.end(), line);
        if (next == all.end()) {
            return ::testing::AssertionFailure()
                   << "\"" << line << "\" missing or out of order in:\n  "
                   << fmt::format("{}", fmt::join(all, "\n  "));
        }
        ++next;
    }
    return ::testing::AssertionSuccess();
}

std::vector<sensors::SensorField> tap_report(bool tap) {
    const auto flag = static_cast<std::uint8_t>(tap);
    return {{{0, 0, 0, 0, 0, 0, 0, 0}, {}, sensors::SensorValueType::UI4},
            {{flag, 0, 0, 0, 0, 0, 0, 0}, {}, sensors::SensorValueType::UI4}};
}

}  // namespace norvo::testing
