#include "norvo/tools/property_text.hpp"

#include <fmt/format.h>

#include "norvo/little_endian.hpp"
#include "norvo/service/properties.hpp"

namespace norvo::tools {
namespace {

using Failure = std::unexpected<std::string>;

bool has_hex_prefix(std::string_view text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

bool is_kind(std::int32_t key, service::PropertyKind kind) {
    const auto* info = service::find_property(key);
    return info && info->settable && info->kind == kind;
}

}  // namespace

std::optional<std::uint64_t> parse_unsigned(std::string_view text) {
    return has_hex_prefix(text) ? parse_number<std::uint64_t>(text.substr(2), 16)
                                : parse_number<std::uint64_t>(text);
}

Parsed<std::int32_t> parse_property_key(std::string_view text) {
    if (has_hex_prefix(text)) {
        if (auto bits = parse_number<std::uint32_t>(text.substr(2), 16))
            return static_cast<std::int32_t>(*bits);
    } else if (auto key = parse_number<std::int32_t>(text, 10)) {
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
        auto byte = parse_number<std::uint8_t>(std::string_view(digits).substr(i, 2), 16);
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
    if (is_kind(key, service::PropertyKind::Switch)) {
        if (text != "0" && text != "1")
            return Failure(fmt::format("switch value '{}' is not 0 or 1", text));
        return std::vector<std::uint8_t>{static_cast<std::uint8_t>(text == "1")};
    }
    if (is_kind(key, service::PropertyKind::Unsigned32)) {
        auto range = parse_number<std::uint32_t>(text, 10);
        if (!range)
            return Failure(fmt::format("range '{}' is not a 32-bit decimal number", text));
        return le_bytes(*range);
    }
    if (is_kind(key, service::PropertyKind::Text))
        return std::vector<std::uint8_t>(text.begin(), text.end());
    return Failure(fmt::format("key {} takes its value as hex:BYTES", key));
}

std::vector<std::uint8_t> phone_packet(std::optional<float> pulse) {
    if (!pulse)
        return {1, 0, 1, 0, 0, 0};
    std::vector<std::uint8_t> packet{2, 0, 1, 0, 4, 0};
    append_le(packet, *pulse);
    return packet;
}

}  // namespace norvo::tools
