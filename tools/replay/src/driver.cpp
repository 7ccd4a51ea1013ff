#include "norvo/replay/driver.hpp"

#include "norvo/replay/recording_callbacks.hpp"
#include "norvo/replay/scripted_sensors.hpp"
#include "norvo/service/runtime.hpp"
#include "norvo/virtual_clock.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

namespace norvo::replay {
namespace {

constexpr log::Target kReplayLog{"vtap_replay"};

Instant instant(std::uint64_t ms) {
    return Instant{} + std::chrono::milliseconds(ms);
}

struct Step {
    std::uint64_t at_ms;
    std::vector<const Input*> inputs;  // in file order
};

// Inputs grouped by instant, in time order; the implicit stop appended when the scenario has none.
std::vector<Step> timeline(const Scenario& scenario, const Input& implicit_stop) {
    std::map<std::uint64_t, std::vector<const Input*>> by_time;
    for (const auto& input : scenario.inputs) by_time[input.at_ms].push_back(&input.input);

    std::vector<Step> steps;
    for (auto& [at_ms, inputs] : by_time) steps.push_back({at_ms, std::move(inputs)});
    bool stops = std::ranges::any_of(scenario.inputs, [](const TimedInput& input) {
        return std::holds_alternative<input::Stop>(input.input);
    });
    if (!stops) {
        std::uint64_t last = steps.empty() ? 0 : steps.back().at_ms;
        steps.push_back({last + kImplicitStopAfterMs, {&implicit_stop}});
    }
    return steps;
}

class Driver {
  public:
    Driver() : clock_(std::make_shared<VirtualClock>()), port_(std::make_shared<SensorPort>()) {
        service::RUNTIME_HANDLE.publish(std::make_shared<service::Runtime>(
            service::Runtime{clock_, std::make_shared<ScriptedCom>(),
                             std::make_shared<ScriptedSensorLibrary>(port_)}));
    }

    std::vector<std::string> run(const Scenario& scenario) {
        service::ContextHandle context;
        service::RemoteOpen(context);
        for (const auto& setting : scenario.initial_settings) set_property(*context, setting);

        std::thread start([&] {
            service::CurrentCallScope scope(callbacks_);
            // A failed start reaches the transcript through the signal-return callback.
            (void)service::NorvoStartSensor(*context, scenario.cookie);
            start_returned_ = true;
            clock_->poke();
        });
        wait_idle();

        const Input implicit_stop{input::Stop{}};
        for (const Step& step : timeline(scenario, implicit_stop)) {
            const Instant at = instant(step.at_ms);
            step_timers_before(at);
            // Held, so that the loop finds every input of this instant queued when it wakes.
            clock_->hold();
            clock_->advance_to(at);
            for (const Input* input : step.inputs) apply(*context, *input, step.at_ms);
            clock_->release();
            wait_idle();
        }

        start.join();
        service::RemoteClose(context);
        return callbacks_.transcript();
    }

  private:
    // Until the loop waits with nothing to do, or the start call has returned.
    void wait_idle() {
        clock_->wait_until_idle(1, [&] { return start_returned_.load(); });
    }

    void step_timers_before(Instant at) {
        for (auto deadline = clock_->next_deadline(); deadline && *deadline < at;
             deadline = clock_->next_deadline()) {
            clock_->advance_to(*deadline);
            wait_idle();
        }
    }

    // Scenarios judge the log and the callbacks, where a refused input shows; they may
    // feed refused inputs on purpose, so the procedures' results are not checked here.
    static void set_property(service::ClientContext& context, const input::SetProperty& set) {
        (void)service::NorvoSetProperty(context, set.key, set.value);
    }

    void apply(service::ClientContext& context, const Input& input, std::uint64_t at_ms) {
        std::visit(
            [&]<class T>(const T& in) {
                if constexpr (std::is_same_v<T, input::SetProperty>) {
                    set_property(context, in);
                } else if constexpr (std::is_same_v<T, input::Packet>) {
                    (void)service::NorvoReceiveClientEvent(context, in.bytes);
                } else if constexpr (std::is_same_v<T, input::Stop>) {
                    (void)service::NorvoStopSensor(context);
                } else {
                    sense(in, at_ms);
                }
            },
            input);
    }

    template <class SensorInput>
    void sense(const SensorInput& in, std::uint64_t at_ms) {
        bool delivered = port_->deliver([&](const sensors::SensorCallbacks& sensor) {
            if constexpr (std::is_same_v<SensorInput, input::Report>) {
                sensor.on_data_updated(in.fields);
            } else if constexpr (std::is_same_v<SensorInput, input::StateChanged>) {
                sensor.on_state_changed(in.state);
            } else if constexpr (std::is_same_v<SensorInput, input::Entered>) {
                sensor.on_entered(in.state);
            } else {
                static_assert(std::is_same_v<SensorInput, input::Left>);
                sensor.on_left();
            }
        });
        if (!delivered)
            kReplayLog.warn("No sensor subscription at {} ms, input dropped", at_ms);
    }

    std::shared_ptr<VirtualClock> clock_;
    std::shared_ptr<SensorPort> port_;
    RecordingCallbacks callbacks_;
    std::atomic<bool> start_returned_{false};
};

}  // namespace

Outcome run_scenario(const Scenario& scenario) {
    auto sink = log::CaptureSink::install();
    Driver driver;
    auto transcript = driver.run(scenario);
    return {std::move(transcript), sink->records()};
}

}  // namespace norvo::replay
