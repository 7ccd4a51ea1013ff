#pragma once

#include <fmt/format.h>

#include <array>
#include <cstdint>

namespace norvo {

struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::array<std::uint8_t, 8> data4;

    friend bool operator==(const Guid&, const Guid&) = default;
};

}  // namespace norvo

// 8-4-4-4-12 upper-case hexadecimal digits, no braces.
template <>
struct fmt::formatter<norvo::Guid> : fmt::formatter<std::string_view> {
    auto format(const norvo::Guid& g, format_context& ctx) const {
        const auto& d = g.data4;
        return fmt::format_to(
            ctx.out(), "{:08X}-{:04X}-{:04X}-{:02X}{:02X}-{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}",
            g.data1, g.data2, g.data3, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
    }
};
