#include "norvo/service/sensor_loop.hpp"

#include "norvo/service/client_callbacks.hpp"
#include "norvo/service/client_event_packet.hpp"
#include "norvo/service/log_target.hpp"
#include "norvo/service/pending_taps.hpp"
#include "norvo/text.hpp"

#include <chrono>
#include <variant>

namespace norvo::service {
namespace {

using sensors::SensorMessage;
using sensors::SensorState;

struct StopEvent {};
struct TimerEvent {};
using LoopEvent = std::variant<StopEvent, PhoneEvent, SensorMessage, TimerEvent>;

// Switches a handler reads together, copied out under one lock of the settings.
struct Switches {
    bool debug_mode;
    bool simulation_mode;
    bool enable_unconfirmed_taps;
};

class SensorLoop {
  public:
    SensorLoop(Clock& clock, SensorLoopInputs inputs) : clock_(clock), in_(std::move(inputs)) {}

    void run() {
        kLog.info("Sensor loop started");
        loop_start_ = clock_.now();
        SafeNorvoSignalReturn(0, in_.callback_cookie);

        wakeup_ = clock_.make_wakeup();
        in_.stop.set_wakeup(wakeup_);
        in_.phone_events.set_wakeup(wakeup_);
        in_.sensor_messages.set_wakeup(wakeup_);

        for (;;) {
            range_ = std::chrono::milliseconds(
                in_.settings->with([](const TapSettings& s) { return s.confirmation_range; }));
            confirmed_ = false;
            LoopEvent event = next_event(pending_.next_deadline());
            if (std::holds_alternative<StopEvent>(event)) {
                kLog.info("Stop message receive, exiting sensor loop");
                kLog.info("Sensor loop ended");
                return;
            }
            bool report = std::visit([this](auto& e) { return handle(e); }, event);
            if (report)
                report_step();
        }
    }

  private:
    // One event per call, in priority order stop > phone > sensor > timer.
    LoopEvent next_event(std::optional<Instant> deadline) {
        for (;;) {
            if (auto stop = in_.stop.try_recv();
                stop || stop.error() == channel::RecvFailure::Closed) {
                return StopEvent{};
            }
            if (phone_open_) {
                if (auto phone = in_.phone_events.try_recv())
                    return std::move(*phone);
                else if (phone.error() == channel::RecvFailure::Closed)
                    phone_open_ = false;
            }
            if (sensor_open_) {
                if (auto message = in_.sensor_messages.try_recv())
                    return std::move(*message);
                else if (message.error() == channel::RecvFailure::Closed)
                    sensor_open_ = false;
            }
            if (deadline && clock_.now() >= *deadline)
                return TimerEvent{};
            wakeup_->wait(deadline);
        }
    }

    std::uint64_t timestamp() const {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now() - loop_start_)
                .count());
    }

    Switches read_switches() const {
        return in_.settings->with([](const TapSettings& s) {
            return Switches{s.debug_mode, s.simulation_mode, s.enable_unconfirmed_taps};
        });
    }

    bool identified_client() const {
        return in_.client_id->with([](const auto& id) { return id.has_value(); });
    }

    void send_tap(TapKind kind, std::uint64_t ts) const {
        if (SafeNorvoTapEvent(static_cast<std::int32_t>(kind), ts, in_.callback_cookie) > 0) {
            kLog.error("Rpc call SafeNorvoTapEvent failed");
        }
    }

    void send_state(SensorState state) const {
        if (SafeNorvoSensorStateChanged(timestamp(), static_cast<std::uint16_t>(state),
                                        in_.callback_cookie) > 0) {
            kLog.error("Rpc call SafeNorvoSensorStateChanged failed");
        }
    }

    bool handle(StopEvent&) { return false; }

    bool handle(PhoneEvent& event) {
        confirmed_ = pending_.record_phone_tap(clock_.now(), range_);
        const auto ts = timestamp();
        kLog.info("Phone tap detected at: {}", ts);
        const auto switches = read_switches();
        ignore_unidentified_ = in_.ignore_unidentified_clients->get();
        if (switches.debug_mode) {
            if (ignore_unidentified_ && identified_client()) {
                send_tap(TapKind::PhoneTap, ts);
            } else {
                kLog.info("Skipping sending phone tap");
            }
        }
        if (switches.simulation_mode) {
            kLog.info("Simulation mode, skipping tap confirmation");
            confirmed_ = true;
        }
        if (event.pulse) {
            kLog.info("Phone event received, pulse: {}", PlainDecimal{*event.pulse});
            in_.tap_strength->set(*event.pulse);
        }
        return true;
    }

    bool handle(SensorMessage& message) {
        const auto switches = read_switches();
        ignore_unidentified_ = in_.ignore_unidentified_clients->get();
        return std::visit([&](auto& m) { return handle_sensor(m, switches); }, message);
    }

    bool handle_sensor(sensors::message::StateChanged& m, const Switches&) {
        kLog.trace("Tap Sensor state changed: {}", m.state);
        send_state(m.state);
        return true;
    }

    bool handle_sensor(sensors::message::Left&, const Switches&) {
        kLog.trace("Tap Sensor stopped");
        send_state(SensorState::SensorStateError);
        return true;
    }

    bool handle_sensor(sensors::message::Entered& m, const Switches&) {
        kLog.trace("Tap Sensor entered with state: {}", m.state);
        send_state(m.state);
        return true;
    }

    bool handle_sensor(sensors::message::DataUpdated& m, const Switches& switches) {
        const auto tap = sensors::decode_tap(m.fields);
        if (!tap) {
            kLog.error("Failed to parse Tap Sensor data");
            return false;
        }
        if (!*tap)
            return false;

        confirmed_ = pending_.record_laptop_tap(clock_.now(), range_);
        const auto ts = timestamp();
        kLog.info("Laptop tap detected at: {}", ts);
        if (switches.debug_mode) {
            if (ignore_unidentified_ && identified_client()) {
                send_tap(TapKind::LaptopTap, ts);
            } else {
                kLog.info("Skipping sending laptop tap");
            }
        }
        return true;
    }

    bool handle(TimerEvent&) {
        kLog.info("Timeout reached, unconfirmed tap");
        const auto switches = read_switches();
        ignore_unidentified_ = in_.ignore_unidentified_clients->get();
        if (pending_.expire_oldest() == ExpiredTap::Laptop && switches.enable_unconfirmed_taps) {
            send_tap(TapKind::UnconfirmedTap, timestamp());
        }
        return true;
    }

    void report_step() {
        if (ignore_unidentified_ && !identified_client()) {
            kLog.info("Skipping to next loop iteration without confirming tap as client is legacy");
            return;
        }
        if (!confirmed_)
            return;
        const auto ts = timestamp();
        kLog.info("Tap confirmed at {}, sending event", ts);
        send_tap(TapKind::Confirmed, ts);
        if (!in_.settings->with([](const TapSettings& s) { return s.forward_confirm_tap; }))
            return;
        kLog.info("Forwarding confirmed tap to phone");
        if (SafeNorvoSendClientEvent(kConfirmedTapPacket.size(), kConfirmedTapPacket.data(),
                                     in_.callback_cookie) > 0) {
            kLog.error("Rpc call SafeNorvoSendClientEvent failed");
        }
    }

    Clock& clock_;
    SensorLoopInputs in_;
    std::shared_ptr<Wakeup> wakeup_;
    Instant loop_start_{};
    PendingTaps pending_;
    Duration range_{};
    bool confirmed_ = false;
    bool ignore_unidentified_ = false;  // as read by the handler of this iteration
    bool phone_open_ = true;
    bool sensor_open_ = true;
};

}  // namespace

void sensor_loop(Clock& clock, SensorLoopInputs inputs) {
    SensorLoop(clock, std::move(inputs)).run();
}

}  // namespace norvo::service
