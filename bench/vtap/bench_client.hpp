#pragma once
// One client of the daemon as the bench drives it: the client library's connection and
// context, and a sensor run on a thread of its own whose callbacks are time-stamped
// on arrival.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <expected>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "norvo/client/connection.hpp"
#include "norvo/service/sensor_loop.hpp"

namespace norvo::bench {

using BenchClock = std::chrono::steady_clock;

// How long the bench waits for the daemon before it calls a run broken.
inline constexpr std::chrono::seconds kGuard{30};

class BenchClient {
  public:
    [[nodiscard]] static std::expected<std::unique_ptr<BenchClient>, std::string> open(
        const std::filesystem::path& endpoint);
    // Ends a run still going, then closes the context.
    ~BenchClient();
    BenchClient(const BenchClient&) = delete;
    BenchClient& operator=(const BenchClient&) = delete;

    client::Connection& connection() { return *connection_; }
    const client::ContextHandle& context() const { return context_; }

    // Sets a property; an error text unless the service returned 0.
    [[nodiscard]] std::expected<void, std::string> set(client::PropertyKey key,
                                                       std::vector<std::uint8_t> value);

    // Starts a sensor run and returns once its loop has signalled that it runs.
    [[nodiscard]] std::expected<void, std::string> start();
    // Stops the run and waits until its start call has returned.
    [[nodiscard]] std::expected<void, std::string> stop();

    // The arrival of the next TapEvent of that kind not yet taken; earlier ones of
    // other kinds are passed over. None when the guard expires first.
    std::optional<BenchClock::time_point> next(service::TapKind kind);
    // Waits for a sensor state callback; false when the guard expires first.
    bool state_changed();

  private:
    class Recorder;

    BenchClient(std::unique_ptr<client::Connection> connection, client::ContextHandle context);

    std::unique_ptr<Recorder> recorder_;
    std::unique_ptr<client::Connection> connection_;
    client::ContextHandle context_;
    std::thread run_;
};

}  // namespace norvo::bench
