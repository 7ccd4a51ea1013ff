#pragma once
// Follows the single taps a debug-mode client receives to tell, for each
// confirmed tap, how far apart its phone tap and laptop tap were. A confirmation
// follows the single tap that made it: a phone tap confirms the oldest pending
// laptop tap, a laptop tap the pending phone tap.

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

namespace norvo::vtapctl {

class TapPairing {
  public:
    void phone_tap(std::uint64_t timestamp);
    void laptop_tap(std::uint64_t timestamp);
    // An unconfirmed tap: the oldest pending laptop tap ran out.
    void laptop_tap_expired();
    // The laptop tap's time minus the phone tap's time for the pair this
    // confirmation closes; none when the single taps were not seen.
    std::optional<std::int64_t> confirmed();

  private:
    enum class Last { None, Phone, Laptop };

    Last last_ = Last::None;
    std::optional<std::uint64_t> phone_;
    std::deque<std::uint64_t> laptops_;
};

}  // namespace norvo::vtapctl
