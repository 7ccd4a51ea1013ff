#pragma once
// Matches laptop taps with phone taps. Owned by the sensor loop, which passes the
// current instant and the confirmation range in, arms its timer for
// next_deadline() and calls expire_oldest() when that timer fires. Deadlines are
// never compared with the time here: a tap expires only through expire_oldest(),
// so a partner recorded first still confirms it.

#include "norvo/clock.hpp"
#include "norvo/ring_buffer.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <variant>

namespace norvo::service {

enum class ExpiredTap : std::uint8_t { None, Phone, Laptop };

class PendingTaps {
  public:
    enum class Form : std::uint8_t { Idle, PhoneTapPending, LaptopTapsPending };

    // True when the tap confirms a pending laptop tap (the oldest one).
    bool record_phone_tap(Instant now, Duration range);
    // True when the tap confirms the pending phone tap.
    bool record_laptop_tap(Instant now, Duration range);

    // When the oldest pending tap runs out; none when idle.
    std::optional<Instant> next_deadline() const;
    // Drops the oldest pending tap only, whatever the deadlines of the others.
    ExpiredTap expire_oldest();

    Form form() const;
    std::size_t pending_laptop_taps() const;

  private:
    struct Idle {};
    struct PhoneTapPending {
        Instant deadline;
    };
    // Never empty: removing the last entry makes the form Idle.
    struct LaptopTapsPending {
        RingBuffer<Instant> deadlines;
    };

    void remove_oldest_laptop_tap(LaptopTapsPending& pending);

    // Alternatives in the order of Form.
    std::variant<Idle, PhoneTapPending, LaptopTapsPending> state_;
};

}  // namespace norvo::service
