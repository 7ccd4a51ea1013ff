#pragma once
// What a stress worker did, as one line on its standard output that the driver adds up.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvo::stress {

struct Tally {
    std::uint64_t calls = 0;       // well-formed calls sent, each answered in time
    std::uint64_t starts = 0;      // starts whose loop signalled that it runs
    std::uint64_t phones = 0;      // phone events accepted with 0 and then counted
    std::uint64_t phone_taps = 0;  // PhoneTap callbacks for them
    std::uint64_t garbage = 0;     // connections fed bad or cut frames
    std::uint64_t vanished = 0;    // connections dropped without a word
    std::uint64_t kills = 0;       // SIGKILLs while a call was outstanding

    Tally& operator+=(const Tally& other);
    friend bool operator==(const Tally&, const Tally&) = default;
};

// "tally calls=12 starts=2 ..."
std::string format_tally(const Tally& tally);
// None unless `line` is a whole tally line.
std::optional<Tally> parse_tally(std::string_view line);

}  // namespace norvo::stress
