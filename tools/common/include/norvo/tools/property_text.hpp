#pragma once
// Property keys and values, and client event packets, written as the replay
// format writes them:
//   KEY    signed 32-bit decimal, or 0x-hex of up to 32 bits (0xFFFFFFFF is -1);
//   VALUE  0 or 1 for the switches (keys 2, 6, 8, 9 and debug mode), a decimal
//          unsigned 32-bit number for key 3, the text itself for key 7, or for
//          any key hex:AABB... with exactly those bytes (blanks allowed, none too).

#include <charconv>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::tools {

template <class T>
using Parsed = std::expected<T, std::string>;  // the error says what is wrong

// The whole of `text` as a number in `base`, or nothing.
template <class T>
std::optional<T> parse_number(std::string_view text, int base = 10) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Decimal, or hexadecimal after 0x.
std::optional<std::uint64_t> parse_unsigned(std::string_view text);

[[nodiscard]] Parsed<std::int32_t> parse_property_key(std::string_view text);
[[nodiscard]] Parsed<std::vector<std::uint8_t>> parse_property_value(std::int32_t key,
                                                                     std::string_view text);

// Hexadecimal digits, blanks allowed between them; at least one byte unless `allow_empty`.
[[nodiscard]] Parsed<std::vector<std::uint8_t>> parse_hex(std::string_view text,
                                                          bool allow_empty = false);

// A phone tap packet: version 1 (01 00 01 00 00 00), or version 2 carrying the
// pulse as a little-endian 32-bit float.
std::vector<std::uint8_t> phone_packet(std::optional<float> pulse);

}  // namespace norvo::tools
