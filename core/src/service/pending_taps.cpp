#include "norvo/service/pending_taps.hpp"

#include "norvo/fatal.hpp"

#include <utility>

namespace norvo::service {

bool PendingTaps::record_phone_tap(Instant now, Duration range) {
    if (auto* laptop = std::get_if<LaptopTapsPending>(&state_)) {
        remove_oldest_laptop_tap(*laptop);
        return true;
    }
    // A phone tap still pending is replaced without a report.
    state_ = PhoneTapPending{now + range};
    return false;
}

bool PendingTaps::record_laptop_tap(Instant now, Duration range) {
    if (std::holds_alternative<PhoneTapPending>(state_)) {
        state_ = Idle{};
        return true;
    }
    if (auto* laptop = std::get_if<LaptopTapsPending>(&state_)) {
        laptop->deadlines.push_back(now + range);
        return false;
    }
    LaptopTapsPending pending;
    pending.deadlines.push_back(now + range);
    state_ = std::move(pending);
    return false;
}

std::optional<Instant> PendingTaps::next_deadline() const {
    if (const auto* phone = std::get_if<PhoneTapPending>(&state_))
        return phone->deadline;
    if (const auto* laptop = std::get_if<LaptopTapsPending>(&state_)) {
        if (const Instant* front = laptop->deadlines.front())
            return *front;
    }
    return std::nullopt;
}

ExpiredTap PendingTaps::expire_oldest() {
    if (std::holds_alternative<PhoneTapPending>(state_)) {
        state_ = Idle{};
        return ExpiredTap::Phone;
    }
    if (auto* laptop = std::get_if<LaptopTapsPending>(&state_)) {
        remove_oldest_laptop_tap(*laptop);
        return ExpiredTap::Laptop;
    }
    return ExpiredTap::None;
}

PendingTaps::Form PendingTaps::form() const {
    return static_cast<Form>(state_.index());
}

std::size_t PendingTaps::pending_laptop_taps() const {
    const auto* laptop = std::get_if<LaptopTapsPending>(&state_);
    return laptop ? laptop->deadlines.size() : 0;
}

void PendingTaps::remove_oldest_laptop_tap(LaptopTapsPending& pending) {
    if (!pending.deadlines.pop_front()) {
        fatal("Invalid state, queue should not be empty when popping");
    }
    if (pending.deadlines.empty())
        state_ = Idle{};
}

}  // namespace norvo::service
