#include "norvo/windows/qpc_clock.hpp"

#include "norvo/fatal.hpp"
#include "norvo/windows/win32.hpp"

#include <algorithm>

namespace norvo::windows {
namespace {

long long counter_frequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

Instant counter_now(long long frequency) {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const long long whole = counter.QuadPart / frequency;
    const long long part = counter.QuadPart % frequency;
    return Instant(std::chrono::seconds(whole) +
                   std::chrono::nanoseconds(part * 1'000'000'000 / frequency));
}

// A notification while nobody waits stays set for the next wait, as Wakeup requires.
class EventWakeup final : public Wakeup {
  public:
    explicit EventWakeup(long long frequency)
        : frequency_(frequency), event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
        if (!event_)
            fatal("CreateEventW failed");
    }

    void notify() override { SetEvent(event_.get()); }

    void wait(std::optional<Instant> deadline) override {
        if (!deadline) {
            WaitForSingleObject(event_.get(), INFINITE);
            return;
        }
        // The wait's granularity is a millisecond: round up, and wait again if woken early.
        for (auto left = *deadline - counter_now(frequency_); left > Duration::zero();
             left = *deadline - counter_now(frequency_)) {
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            const auto timeout = static_cast<DWORD>(std::min<long long>(ms, INFINITE - 1));
            if (WaitForSingleObject(event_.get(), timeout) == WAIT_OBJECT_0)
                return;
        }
    }

  private:
    long long frequency_;
    UniqueHandle event_;
};

}  // namespace

QpcClock::QpcClock() : frequency_(counter_frequency()) {}

Instant QpcClock::now() const {
    return counter_now(frequency_);
}

std::shared_ptr<Wakeup> QpcClock::make_wakeup() {
    return std::make_shared<EventWakeup>(frequency_);
}

}  // namespace norvo::windows
