#pragma once
// Reads a fuzz input front to back, so that seeds can be written as plain
// sequences of operations. Past the end every read yields zeros or nothing.

#include <cstddef>
#include <cstdint>
#include <span>

namespace norvo::fuzz {

class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool empty() const { return bytes_.empty(); }

    std::uint8_t u8() {
        const auto taken = take(1);
        return taken.empty() ? 0 : taken[0];
    }

    std::uint32_t u32() {
        std::uint32_t value = 0;
        const auto taken = take(4);
        for (std::size_t i = 0; i < taken.size(); ++i) value |= std::uint32_t{taken[i]} << (8 * i);
        return value;
    }

    // Up to `count` bytes: fewer when the input ends first.
    std::span<const std::uint8_t> take(std::size_t count) {
        const auto taken = bytes_.first(count < bytes_.size() ? count : bytes_.size());
        bytes_ = bytes_.subspan(taken.size());
        return taken;
    }

  private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace norvo::fuzz
