#pragma once
// Text forms of values shared by all log messages.

#include <fmt/format.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace norvo {

// A text shown in double quotes with quotes, backslashes and control characters escaped.
struct Quoted {
    std::string_view text;
};

std::string escape_quoted(std::string_view text);

// Bytes shown as decimal values: "[1, 0, 255]".
struct ByteList {
    std::span<const std::uint8_t> bytes;
};

// A float in plain decimal notation, shortest round-trip digits, never an exponent.
struct PlainDecimal {
    float value;
};

std::string plain_decimal(float value);

}  // namespace norvo

template <>
struct fmt::formatter<norvo::PlainDecimal> : fmt::formatter<std::string_view> {
    auto format(const norvo::PlainDecimal& d, format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(norvo::plain_decimal(d.value), ctx);
    }
};

template <>
struct fmt::formatter<norvo::Quoted> : fmt::formatter<std::string_view> {
    auto format(const norvo::Quoted& q, format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(norvo::escape_quoted(q.text), ctx);
    }
};

template <>
struct fmt::formatter<norvo::ByteList> : fmt::formatter<std::string_view> {
    auto format(const norvo::ByteList& list, format_context& ctx) const {
        auto out = fmt::format_to(ctx.out(), "[");
        for (std::size_t i = 0; i < list.bytes.size(); ++i) {
            if (i != 0)
                out = fmt::format_to(out, ", ");
            out = fmt::format_to(out, "{}", unsigned{list.bytes[i]});
        }
        return fmt::format_to(out, "]");
    }
};
