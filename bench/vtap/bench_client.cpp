#include "bench_client.hpp"

#include <fmt/format.h>

namespace norvo::bench {
namespace {

constexpr std::uint64_t kCookie = 7;

std::string rpc_error(std::string_view call, const client::RpcFailure& failure) {
    return fmt::format("{}: rpc error {} ({})", call, failure.status, failure.describe());
}

}  // namespace

class BenchClient::Recorder final : public client::Callbacks {
  public:
    void tap_event(std::int32_t kind, std::uint64_t, std::uint64_t) override {
        const auto now = BenchClock::now();
        change([&] { taps_.push_back({kind, now}); });
    }
    void send_client_event(std::span<const std::uint8_t>, std::uint64_t) override {}
    void sensor_state_changed(std::uint64_t, std::uint16_t, std::uint64_t) override {
        change([&] { ++state_changes_; });
    }
    void signal_return(std::int32_t status, std::uint64_t) override {
        change([&] { signal_ = status; });
    }
    void run_ended() {
        change([&] { ended_ = true; });
    }

    // The loop's signal, or none when the run ended first or the guard expired.
    std::optional<std::int32_t> signal() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kGuard, [&] { return signal_ || ended_; });
        return signal_;
    }

    std::optional<BenchClock::time_point> next(service::TapKind kind) {
        std::unique_lock lock(mutex_);
        for (;;) {
            while (!taps_.empty()) {
                const auto [k, at] = taps_.front();
                taps_.pop_front();
                if (k == static_cast<std::int32_t>(kind))
                    return at;
            }
            changed_.wait_for(lock, kGuard, [&] { return !taps_.empty() || ended_; });
            if (taps_.empty())
                return std::nullopt;
        }
    }

    bool state_changed() {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, kGuard, [&] { return state_changes_ > 0; }))
            return false;
        --state_changes_;
        return true;
    }

  private:
    template <class Change>
    void change(Change apply) {
        {
            std::lock_guard lock(mutex_);
            apply();
        }
        changed_.notify_all();
    }

    struct Arrival {
        std::int32_t kind;
        BenchClock::time_point at;
    };

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Arrival> taps_;
    std::size_t state_changes_ = 0;
    std::optional<std::int32_t> signal_;
    bool ended_ = false;
};

std::expected<std::unique_ptr<BenchClient>, std::string> BenchClient::open(
    const std::filesystem::path& endpoint) {
    auto connection = client::Connection::connect(endpoint);
    if (!connection)
        return std::unexpected(rpc_error("connect", connection.error()));
    auto context = (*connection)->RemoteOpen();
    if (!context)
        return std::unexpected(rpc_error("RemoteOpen", context.error()));
    return std::unique_ptr<BenchClient>(new BenchClient(std::move(*connection), *context));
}

BenchClient::BenchClient(std::unique_ptr<client::Connection> connection,
                         client::ContextHandle context)
    : recorder_(std::make_unique<Recorder>()),
      connection_(std::move(connection)),
      context_(context) {}

BenchClient::~BenchClient() {
    if (run_.joinable())
        (void)stop();
    (void)connection_->RemoteClose(context_);
}

std::expected<void, std::string> BenchClient::set(client::PropertyKey key,
                                                  std::vector<std::uint8_t> value) {
    const auto result = connection_->NorvoSetProperty(context_, key, value);
    if (!result)
        return std::unexpected(rpc_error("NorvoSetProperty", result.error()));
    if (*result != 0)
        return std::unexpected(fmt::format("NorvoSetProperty {} returned {:#x}", key,
                                           static_cast<std::uint32_t>(*result)));
    return {};
}

std::expected<void, std::string> BenchClient::start() {
    run_ = std::thread([this] {
        (void)connection_->NorvoStartSensor(context_, kCookie, *recorder_);
        recorder_->run_ended();
    });
    const auto signal = recorder_->signal();
    // The loop waits for the answer to its signal; a call behind that answer on the
    // same connection returns once the service has read it.
    if (signal == 0 && connection_->NorvoQueryProperty(context_, 1, std::nullopt))
        return {};
    (void)stop();
    return std::unexpected(
        signal ? fmt::format("the sensor run signalled {:#x}", static_cast<std::uint32_t>(*signal))
               : std::string("the sensor run did not start"));
}

std::expected<void, std::string> BenchClient::stop() {
    const auto stopped = connection_->NorvoStopSensor(context_);
    if (run_.joinable())
        run_.join();
    if (!stopped)
        return std::unexpected(rpc_error("NorvoStopSensor", stopped.error()));
    return {};
}

std::optional<BenchClock::time_point> BenchClient::next(service::TapKind kind) {
    return recorder_->next(kind);
}

bool BenchClient::state_changed() {
    return recorder_->state_changed();
}

}  // namespace norvo::bench
