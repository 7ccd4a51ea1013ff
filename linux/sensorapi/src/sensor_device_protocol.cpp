#include "norvo/linux/sensor_device_protocol.hpp"

#include <fmt/format.h>

#include <charconv>

#include "norvo/linux/sensorapi.h"

namespace norvo::linux_platform::sensor_device {
namespace {

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

template <class T>
[[nodiscard]] std::expected<T, std::string> number(std::string_view text, int base = 10) {
    T value{};
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (ec != std::errc{} || ptr != end || text.empty()) {
        return std::unexpected(fmt::format("not a valid number: {}", text));
    }
    return value;
}

// Well-formed UTF-8 without control characters: the stand-in hands it on as UTF-16.
bool printable_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80           ? 1
                             : (c >> 5) == 0x6  ? 2
                             : (c >> 4) == 0xE  ? 3
                             : (c >> 3) == 0x1E ? 4
                                                : 0;
        if (length == 0 || i + length > text.size() || c < 0x20 || c == 0x7F)
            return false;
        char32_t code = length == 1 ? c : c & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto cont = static_cast<unsigned char>(text[i + k]);
            if ((cont & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (cont & 0x3F);
        }
        const char32_t min = length == 2 ? 0x80 : length == 3 ? 0x800 : length == 4 ? 0x10000 : 0;
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// Types whose value lies wholly in the value area: the receiving side copies the bytes
// and clears the variant, which must then own no memory.
bool plain_value_type(std::uint16_t type) {
    constexpr VARTYPE kPlain[] = {VT_EMPTY, VT_NULL,  VT_I2,   VT_I4,   VT_R4,      VT_R8,  VT_CY,
                                  VT_DATE,  VT_ERROR, VT_BOOL, VT_I1,   VT_UI1,     VT_UI2, VT_UI4,
                                  VT_I8,    VT_UI8,   VT_INT,  VT_UINT, VT_FILETIME};
    for (auto t : kPlain) {
        if (t == type)
            return true;
    }
    return false;
}

[[nodiscard]] std::expected<ReportValue, std::string> report_value(std::string_view item) {
    const auto colon = item.find(':');
    if (colon == std::string_view::npos || item.size() - colon - 1 != 16) {
        return std::unexpected(fmt::format("a report value is TYPE:16 hex digits, not {}", item));
    }
    auto type = number<std::uint16_t>(item.substr(0, colon));
    if (!type)
        return std::unexpected(type.error());
    if (!plain_value_type(*type))
        return std::unexpected(fmt::format("type {} is no plain value", *type));
    ReportValue value{*type, {}};
    for (std::size_t i = 0; i < value.bytes.size(); ++i) {
        auto byte = number<std::uint8_t>(item.substr(colon + 1 + 2 * i, 2), 16);
        if (!byte)
            return std::unexpected(byte.error());
        value.bytes[i] = *byte;
    }
    return value;
}

[[nodiscard]] std::expected<Message, std::string> decode_enter(
    const std::vector<std::string_view>& w) {
    if (w.size() != 5)
        return std::unexpected(std::string("enter takes STATE FIELDS MODEL MANUFACTURER"));
    auto state = number<std::int32_t>(w[1]);
    if (!state)
        return std::unexpected(state.error());
    auto fields = number<std::uint32_t>(w[2]);
    if (!fields)
        return std::unexpected(fields.error());
    if (*fields > kMaxFields)
        return std::unexpected(fmt::format("at most {} fields", kMaxFields));
    if (!printable_utf8(w[3]) || !printable_utf8(w[4])) {
        return std::unexpected(std::string("model and manufacturer must be printable UTF-8"));
    }
    return Enter{*state, *fields, std::string(w[3]), std::string(w[4])};
}

}  // namespace

Report tap_report(std::uint32_t strength, bool tap) {
    const auto ui4 = [](std::uint32_t value) {
        ReportValue out{VT_UI4, {}};
        for (std::size_t i = 0; i < 4; ++i)
            out.bytes[i] = static_cast<std::uint8_t>(value >> 8 * i);
        return out;
    };
    return Report{{ui4(strength), ui4(tap ? 1 : 0)}};
}

std::string encode(const Message& message) {
    struct Encoder {
        std::string operator()(const Enter& m) const {
            return fmt::format("enter {} {} {} {}\n", m.state, m.field_count, m.model,
                               m.manufacturer);
        }
        std::string operator()(const Leave&) const { return "leave\n"; }
        std::string operator()(const State& m) const { return fmt::format("state {}\n", m.state); }
        std::string operator()(const Report& m) const {
            std::string line = "report";
            for (const auto& v : m.values)
                line += fmt::format(" {}:{:02x}", v.type, fmt::join(v.bytes, ""));
            return line + "\n";
        }
    };
    return std::visit(Encoder{}, message);
}

std::expected<Message, std::string> decode(std::string_view line) {
    const auto w = words(line);
    if (w.empty())
        return std::unexpected(std::string("empty message"));
    if (w[0] == "enter")
        return decode_enter(w);
    if (w[0] == "leave" && w.size() == 1)
        return Leave{};
    if (w[0] == "state" && w.size() == 2) {
        auto state = number<std::int32_t>(w[1]);
        if (!state)
            return std::unexpected(state.error());
        return State{*state};
    }
    if (w[0] == "report") {
        if (w.size() - 1 > kMaxFields)
            return std::unexpected(fmt::format("at most {} values", kMaxFields));
        Report report;
        for (std::size_t i = 1; i < w.size(); ++i) {
            auto value = report_value(w[i]);
            if (!value)
                return std::unexpected(value.error());
            report.values.push_back(*value);
        }
        return report;
    }
    return std::unexpected(fmt::format("unknown message: {}", w[0]));
}

}  // namespace norvo::linux_platform::sensor_device
