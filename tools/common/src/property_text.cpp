#include "norvo/tools/property_text.hpp"

#include <fmt/format.h>

#include <bit>
#include <charconv>

namespace norvo::tools {
namespace {

using Failure = std::unexpected<std::string>;

template <class T>
std::optional<T> number(std::string_view text, int base) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool has_hex_prefix(std::string_view text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

bool is_switch(std::int32_t key) {
    return key == 2 || key == 6 || key == 8 || key == 9 || key == kDebugModeKey;
}

void append_le32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

Parsed<std::int32_t> parse_property_key(std::string_view text) {
    if (has_hex_prefix(text)) {
        if (auto bits = number<std::uint32_t>(text.substr(2), 16))
            return static_cast<std::int32_t>(*bits);
    } else if (auto key = number<std::int32_t>(text, 10)) {
        return *key;
    }
    return Failure(fmt::format("key '{}' is not a 32-bit number", text));
}

Parsed<std::vector<std::uint8_t>> parse_hex(std::string_view text, bool allow_empty) {
    std::string digits;
    for (char c : text) {
        if (c != ' ' && c != '\t')
            digits.push_back(c);
    }
    if (digits.empty() && !allow_empty)
        return Failure("no hex bytes");
    if (digits.size() % 2 != 0)
        return Failure(fmt::format("odd number of hex digits in '{}'", text));
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        auto byte = number<std::uint8_t>(std::string_view(digits).substr(i, 2), 16);
        if (!byte)
            return Failure(fmt::format("'{}' is not hex", text));
        bytes.push_back(*byte);
    }
    return bytes;
}

Parsed<std::vector<std::uint8_t>> parse_property_value(std::int32_t key, std::string_view text) {
    if (text.starts_with("hex:"))
        return parse_hex(text.substr(4), /*allow_empty=*/true);
    if (text.empty())
        return Failure("missing property value");
    if (is_switch(key)) {
        if (text != "0" && text != "1")
            return Failure(fmt::format("switch value '{}' is not 0 or 1", text));
        return std::vector<std::uint8_t>{static_cast<std::uint8_t>(text == "1")};
    }
    if (key == 3) {
        auto range = number<std::uint32_t>(text, 10);
        if (!range)
            return Failure(fmt::format("range '{}' is not a 32-bit decimal number", text));
        std::vector<std::uint8_t> bytes;
        append_le32(bytes, *range);
        return bytes;
    }
    if (key == 7)
        return std::vector<std::uint8_t>(text.begin(), text.end());
    return Failure(fmt::format("key {} takes its value as hex:BYTES", key));
}

std::vector<std::uint8_t> phone_packet(std::optional<float> pulse) {
    if (!pulse)
        return {1, 0, 1, 0, 0, 0};
    std::vector<std::uint8_t> packet{2, 0, 1, 0, 4, 0};
    append_le32(packet, std::bit_cast<std::uint32_t>(*pulse));
    return packet;
}

}  // namespace norvo::tools
