#include "norvo/service/sensor_callbacks.hpp"

#include "norvo/service/log_target.hpp"

namespace norvo::service {
namespace {

using namespace sensors;

// Shared by the four callables, which the platform may call on several threads at once.
class Poster {
  public:
    Poster(channel::Sender<SensorMessage> sender,
           std::shared_ptr<std::atomic<std::uint64_t>> dropped)
        : sender_(std::move(sender)), dropped_(std::move(dropped)) {}
    Poster(const Poster&) = delete;
    Poster& operator=(const Poster&) = delete;
    ~Poster() { end_burst(); }

    void post(SensorMessage message) {
        auto sent = sender_.try_send(std::move(message));
        if (sent) {
            end_burst();
        } else if (sent.error().kind == channel::SendFailure::Full) {
            dropped_->fetch_add(1, std::memory_order_relaxed);
            burst_.fetch_add(1, std::memory_order_relaxed);
        }
    }

  private:
    void end_burst() {
        if (burst_.load(std::memory_order_relaxed) == 0)
            return;
        if (const auto count = burst_.exchange(0, std::memory_order_relaxed); count != 0) {
            kLog.warn("Sensor queue full, dropped {} sensor reports", count);
        }
    }

    channel::Sender<SensorMessage> sender_;
    std::shared_ptr<std::atomic<std::uint64_t>> dropped_;
    std::atomic<std::uint64_t> burst_{0};
};

}  // namespace

SensorCallbacks make_sensor_callbacks(const channel::Sender<SensorMessage>& sender,
                                      std::shared_ptr<std::atomic<std::uint64_t>> dropped) {
    auto poster = std::make_shared<Poster>(sender, std::move(dropped));
    return SensorCallbacks{
        .on_state_changed = [poster](SensorState s) { poster->post(message::StateChanged{s}); },
        .on_data_updated =
            [poster](std::vector<SensorField> fields) {
                poster->post(message::DataUpdated{std::move(fields)});
            },
        .on_left = [poster] { poster->post(message::Left{}); },
        .on_entered = [poster](SensorState s) { poster->post(message::Entered{s}); },
    };
}

}  // namespace norvo::service
