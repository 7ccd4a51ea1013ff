#include "norvo/text.hpp"

#include <cmath>
#include <cstdlib>

namespace norvo {

namespace {

// U+0080 to U+009F, the C1 controls: C2 80 to C2 9F in UTF-8.
bool c1_control_at(std::string_view text, std::size_t i) {
    if (i + 1 >= text.size() || static_cast<unsigned char>(text[i]) != 0xC2)
        return false;
    const auto next = static_cast<unsigned char>(text[i + 1]);
    return next >= 0x80 && next <= 0x9F;
}

}  // namespace

std::string escape_quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    out += fmt::format("\\u{{{:x}}}", unsigned{byte});
                } else if (c1_control_at(text, i)) {
                    const auto code = static_cast<unsigned char>(text[++i]);
                    out += fmt::format("\\u{{{:x}}}", unsigned{code});
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
    return out;
}

std::string plain_decimal(float value) {
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    const std::string shortest = fmt::format("{}", value);
    const auto e = shortest.find('e');
    if (e == std::string::npos)
        return shortest;

    // Move the decimal point of the shortest digits by the exponent.
    const bool negative = shortest.front() == '-';
    std::string digits;
    int point = -1;
    for (std::size_t i = negative ? 1 : 0; i < e; ++i) {
        if (shortest[i] == '.') {
            point = static_cast<int>(digits.size());
        } else {
            digits.push_back(shortest[i]);
        }
    }
    if (point < 0)
        point = static_cast<int>(digits.size());
    point += std::atoi(shortest.c_str() + e + 1);

    std::string out = negative ? "-" : "";
    if (point <= 0) {
        out += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    } else if (point >= static_cast<int>(digits.size())) {
        out += digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(point)) + "." +
               digits.substr(static_cast<std::size_t>(point));
    }
    return out;
}

}  // namespace norvo
