#include "loop_pairs.hpp"

#include <optional>
#include <string>
#include <vector>

namespace norvo::bench {
namespace {

using namespace norvo::service;

std::vector<sensors::SensorField> tap_report() {
    return {{{0, 0, 0, 0, 0, 0, 0, 0}, {}, sensors::SensorValueType::UI4},
            {{1, 0, 0, 0, 0, 0, 0, 0}, {}, sensors::SensorValueType::UI4}};
}

}  // namespace

service::CallbackResult ConfirmedCounter::tap_event(std::int32_t kind, std::uint64_t,
                                                    std::uint64_t) {
    if (kind == static_cast<std::int32_t>(TapKind::Confirmed)) {
        std::lock_guard lock(mutex_);
        ++confirmed_;
        cv_.notify_one();
    }
    return {};
}

void ConfirmedCounter::wait_for(std::uint64_t count) {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return confirmed_ >= count; });
}

service::CallbackResult ConfirmedCounter::signal_return(std::int32_t, std::uint64_t) {
    std::lock_guard lock(mutex_);
    started_ = true;
    cv_.notify_one();
    return {};
}

void ConfirmedCounter::wait_until_started() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return started_; });
}

LoopPairs::LoopPairs()
    : LoopPairs(channel::bounded<StopMessage>(1), channel::bounded<PhoneEvent>(10),
                channel::unbounded<sensors::SensorMessage>()) {}

LoopPairs::LoopPairs(Pair<StopMessage> stop, Pair<PhoneEvent> phone,
                     Pair<sensors::SensorMessage> sensor)
    : stop_(std::move(stop.first)),
      phone_(std::move(phone.first)),
      sensor_(std::move(sensor.first)),
      loop_([this, stop = std::move(stop.second), phone = std::move(phone.second),
             sensor = std::move(sensor.second)]() mutable {
          CurrentCallScope scope(counter_);
          sensor_loop(clock_, SensorLoopInputs{
                                  .callback_cookie = 1,
                                  .settings = make_shared_cell(TapSettings{}),
                                  .ignore_unidentified_clients = make_shared_cell(false),
                                  .tap_strength = make_shared_cell<std::optional<float>>(),
                                  .client_id = make_shared_cell<std::optional<std::string>>(),
                                  .stop = std::move(stop),
                                  .phone_events = std::move(phone),
                                  .sensor_messages = std::move(sensor),
                              });
      }) {}

LoopPairs::~LoopPairs() {
    (void)stop_.try_send(StopMessage{});
    loop_.join();
}

void LoopPairs::confirm_one() {
    (void)sensor_.try_send(sensors::message::DataUpdated{tap_report()});
    (void)phone_.try_send(PhoneEvent{});
    counter_.wait_for(++pairs_);
}

}  // namespace norvo::bench
