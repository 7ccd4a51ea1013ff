#pragma once
// Every multi-byte value in a packet or property buffer is little-endian.

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

namespace norvo {

namespace detail {
template <std::size_t N>
using UnsignedOfSize = std::conditional_t<
    N == 1, std::uint8_t,
    std::conditional_t<N == 2, std::uint16_t,
                       std::conditional_t<N == 4, std::uint32_t, std::uint64_t>>>;
}  // namespace detail

// Integers and floating-point numbers alike, by their bits.
template <class T>
    requires(std::integral<T> || std::floating_point<T>) && (sizeof(T) <= 8)
void append_le(std::vector<std::uint8_t>& out, T value) {
    const auto bits = std::bit_cast<detail::UnsignedOfSize<sizeof(T)>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}

template <class T>
std::vector<std::uint8_t> le_bytes(T value) {
    std::vector<std::uint8_t> out;
    append_le(out, value);
    return out;
}

// Reads the first sizeof(T) bytes; the caller has checked the size.
template <std::unsigned_integral T>
T read_le(std::span<const std::uint8_t> bytes) {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(T{bytes[i]} << (8 * i));
    return value;
}

}  // namespace norvo
