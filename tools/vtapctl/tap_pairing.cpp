#include "tap_pairing.hpp"

namespace norvo::vtapctl {

void TapPairing::phone_tap(std::uint64_t timestamp) {
    phone_ = timestamp;
    last_ = Last::Phone;
}

void TapPairing::laptop_tap(std::uint64_t timestamp) {
    laptops_.push_back(timestamp);
    last_ = Last::Laptop;
}

void TapPairing::laptop_tap_expired() {
    if (!laptops_.empty())
        laptops_.pop_front();
}

std::optional<std::int64_t> TapPairing::confirmed() {
    const Last last = std::exchange(last_, Last::None);
    if (last == Last::None || !phone_ || laptops_.empty())
        return std::nullopt;
    std::uint64_t laptop = 0;
    if (last == Last::Phone) {
        laptop = laptops_.front();
        laptops_.pop_front();
    } else {
        laptop = laptops_.back();
        laptops_.pop_back();
    }
    const auto phone = *std::exchange(phone_, std::nullopt);
    return static_cast<std::int64_t>(laptop) - static_cast<std::int64_t>(phone);
}

}  // namespace norvo::vtapctl
