#include "start_harness.hpp"

#include <fmt/format.h>

#include <cstdio>
#include <cstdlib>

namespace norvo::testing {

service::CallbackResult RecordingCallbacks::record(std::string line) {
    std::unique_lock lock(mutex_);
    lines_.push_back(std::move(line));
    cv_.notify_all();
    if (blocked_) {
        inside_ = true;
        cv_.notify_all();
        cv_.wait(lock, [&] { return !blocked_; });
        inside_ = false;
    }
    if (fail)
        return std::unexpected(service::CallbackFailure{"client gone"});
    return {};
}

service::CallbackResult RecordingCallbacks::tap_event(std::int32_t kind, std::uint64_t ts,
                                                      std::uint64_t cookie) {
    return record(fmt::format("TapEvent {} ts={} cookie={}", kind, ts, cookie));
}

service::CallbackResult RecordingCallbacks::send_client_event(std::span<const std::uint8_t> packet,
                                                              std::uint64_t cookie) {
    return record(fmt::format("SendClientEvent {:02X} cookie={}", fmt::join(packet, " "), cookie));
}

service::CallbackResult RecordingCallbacks::sensor_state_changed(std::uint64_t ts,
                                                                 std::uint16_t state,
                                                                 std::uint64_t cookie) {
    return record(fmt::format("SensorStateChanged ts={} state={} cookie={}", ts, state, cookie));
}

service::CallbackResult RecordingCallbacks::signal_return(std::int32_t status,
                                                          std::uint64_t cookie) {
    return record(
        fmt::format("SignalReturn {:#x} cookie={}", static_cast<std::uint32_t>(status), cookie));
}

std::vector<std::string> RecordingCallbacks::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

void RecordingCallbacks::block() {
    std::lock_guard lock(mutex_);
    blocked_ = true;
}

void RecordingCallbacks::unblock() {
    {
        std::lock_guard lock(mutex_);
        blocked_ = false;
    }
    cv_.notify_all();
}

void RecordingCallbacks::wait_until_inside() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return inside_; });
}

void RecordingCallbacks::wait_for_calls(std::size_t count) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, kCallGuard, [&] { return lines_.size() >= count; })) {
        // Fails the run at once, with what came, rather than at the test runner's time limit.
        std::fprintf(stderr, "gave up after %lld s waiting for callback %zu; came:\n",
                     static_cast<long long>(kCallGuard.count()), count);
        for (const auto& line : lines_) std::fprintf(stderr, "  %s\n", line.c_str());
        std::abort();
    }
}

RunningStart::RunningStart(service::ClientContext& context, std::uint64_t cookie,
                           RecordingCallbacks& callbacks, VirtualClock& clock)
    : clock_(clock), thread_([this, &context, cookie, &callbacks] {
          service::CurrentCallScope scope(callbacks);
          result_ = service::NorvoStartSensor(context, cookie);
          returned_ = true;
          clock_.poke();
      }) {}

RunningStart::~RunningStart() {
    if (thread_.joinable())
        thread_.join();
}

void RunningStart::settle() {
    clock_.wait_until_idle(1, [this] { return returned_.load(); });
}

service::HRESULT RunningStart::join() {
    thread_.join();
    return result_;
}

}  // namespace norvo::testing
