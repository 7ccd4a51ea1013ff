#pragma once
// Runs NorvoStartSensor on its own thread, bound to recording callbacks, and
// lets a test wait (without sleeping) until the loop is idle in virtual time.

#include "norvo/service/client_callbacks.hpp"
#include "norvo/service/procedures.hpp"
#include "norvo/virtual_clock.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace norvo::testing {

class RecordingCallbacks final : public service::ClientCallbacks {
  public:
    service::CallbackResult tap_event(std::int32_t kind, std::uint64_t ts,
                                      std::uint64_t cookie) override;
    service::CallbackResult send_client_event(std::span<const std::uint8_t> packet,
                                              std::uint64_t cookie) override;
    service::CallbackResult sensor_state_changed(std::uint64_t ts, std::uint16_t state,
                                                 std::uint64_t cookie) override;
    service::CallbackResult signal_return(std::int32_t status, std::uint64_t cookie) override;

    std::vector<std::string> lines() const;

    // Every call fails, as when the client has gone.
    std::atomic<bool> fail{false};

    // While blocked, a callback waits inside the call until unblock().
    void block();
    void unblock();
    // Waits until a callback sits blocked.
    void wait_until_inside();
    // Waits until `count` callbacks have been made; aborts the test program, naming the
    // calls made, after kCallGuard.
    void wait_for_calls(std::size_t count);
    static constexpr std::chrono::seconds kCallGuard{20};

  private:
    service::CallbackResult record(std::string line);

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::string> lines_;
    bool blocked_ = false;
    bool inside_ = false;
};

class RunningStart {
  public:
    RunningStart(service::ClientContext& context, std::uint64_t cookie,
                 RecordingCallbacks& callbacks, VirtualClock& clock);
    ~RunningStart();

    // Until the loop waits with nothing to do, or the start call has returned.
    void settle();
    [[nodiscard]] service::HRESULT join();

  private:
    VirtualClock& clock_;
    std::atomic<bool> returned_{false};
    service::HRESULT result_ = 0;
    std::thread thread_;
};

}  // namespace norvo::testing
