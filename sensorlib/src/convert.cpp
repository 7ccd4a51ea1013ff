#include "convert.hpp"

namespace norvo::sensorlib {
namespace {

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool is_high(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

std::optional<std::string> utf16_to_utf8(const WCHAR* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const auto unit = static_cast<char16_t>(text[i]);
        if (is_low(unit))
            return std::nullopt;
        if (!is_high(unit)) {
            append_utf8(out, unit);
            continue;
        }
        if (i + 1 == length)
            return std::nullopt;
        const auto next = static_cast<char16_t>(text[i + 1]);
        if (!is_low(next))
            return std::nullopt;
        append_utf8(out, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{next} - 0xDC00));
        ++i;
    }
    return out;
}

std::optional<std::string> utf16_to_utf8(const WCHAR* text) {
    if (!text)
        return std::nullopt;
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return utf16_to_utf8(text, length);
}

}  // namespace norvo::sensorlib
