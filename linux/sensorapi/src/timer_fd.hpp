#pragma once
// timerfd on the monotonic clock, as the IIO sensor's loop uses it.

#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

#include "norvo/posix/unique_fd.hpp"

namespace norvo::linux_platform {

inline posix::UniqueFd monotonic_timer() {
    return posix::UniqueFd(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
}

inline timespec to_timespec(std::chrono::nanoseconds t) {
    return {static_cast<time_t>(t.count() / 1'000'000'000),
            static_cast<long>(t.count() % 1'000'000'000)};
}

// Every `every` from now; zero stops it.
inline void run_every(int timer, std::chrono::nanoseconds every) {
    const itimerspec setting{to_timespec(every), to_timespec(every)};
    ::timerfd_settime(timer, 0, &setting, nullptr);
}

// Once at `when` on the monotonic clock; nothing stops it.
inline void run_at(int timer, std::optional<std::chrono::nanoseconds> when) {
    const itimerspec setting{
        {}, when ? to_timespec(std::max(*when, std::chrono::nanoseconds(1))) : timespec{}};
    ::timerfd_settime(timer, TFD_TIMER_ABSTIME, &setting, nullptr);
}

// Takes the expirations, so that the timer stops being readable.
inline void drain(int timer) {
    std::uint64_t expirations = 0;
    [[maybe_unused]] const auto drained = ::read(timer, &expirations, sizeof expirations);
}

inline std::chrono::nanoseconds now_on(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace norvo::linux_platform
