#pragma once
// A sensor loop on its own thread with the real clock, fed laptop and phone taps in
// pairs: the in-process throughput figure of both loop_bench and vtap-bench.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>

#include "norvo/channel.hpp"
#include "norvo/linux/steady_clock.hpp"
#include "norvo/service/client_callbacks.hpp"
#include "norvo/service/sensor_loop.hpp"

namespace norvo::bench {

// Counts Confirmed events and wakes the feeder for each one, and for a start's signal.
class ConfirmedCounter final : public service::ClientCallbacks {
  public:
    service::CallbackResult tap_event(std::int32_t kind, std::uint64_t, std::uint64_t) override;
    service::CallbackResult send_client_event(std::span<const std::uint8_t>,
                                              std::uint64_t) override {
        return {};
    }
    service::CallbackResult sensor_state_changed(std::uint64_t, std::uint16_t,
                                                 std::uint64_t) override {
        return {};
    }
    service::CallbackResult signal_return(std::int32_t, std::uint64_t) override;

    void wait_for(std::uint64_t count);
    // Until a start has signalled its return: only a running start takes phone events.
    void wait_until_started();

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::uint64_t confirmed_ = 0;
    bool started_ = false;
};

class LoopPairs {
  public:
    LoopPairs();
    // Stops the loop and joins it.
    ~LoopPairs();
    LoopPairs(const LoopPairs&) = delete;
    LoopPairs& operator=(const LoopPairs&) = delete;

    // Sends one laptop tap and one phone event and waits for their Confirmed event.
    void confirm_one();
    std::uint64_t confirmed() const { return pairs_; }

  private:
    template <class T>
    using Pair = std::pair<channel::Sender<T>, channel::Receiver<T>>;
    LoopPairs(Pair<service::StopMessage> stop, Pair<service::PhoneEvent> phone,
              Pair<sensors::SensorMessage> sensor);

    linux_platform::SteadyClock clock_;
    ConfirmedCounter counter_;
    channel::Sender<service::StopMessage> stop_;
    channel::Sender<service::PhoneEvent> phone_;
    channel::Sender<sensors::SensorMessage> sensor_;
    std::uint64_t pairs_ = 0;
    std::thread loop_;
};

}  // namespace norvo::bench
