#include "norvo/service/utf8.hpp"

#include <string_view>

namespace norvo::service {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The well-formed sequences that start with `lead`: their length and the range
// of their second byte, which excludes overlongs, surrogates and values above U+10FFFF.
struct Sequence {
    std::size_t length;
    std::uint8_t second_min;
    std::uint8_t second_max;
};

constexpr Sequence sequence_for(std::uint8_t lead) {
    if (lead < 0x80)
        return {1, 0, 0};
    if (lead < 0xC2)
        return {0, 0, 0};
    if (lead < 0xE0)
        return {2, 0x80, 0xBF};
    if (lead == 0xE0)
        return {3, 0xA0, 0xBF};
    if (lead == 0xED)
        return {3, 0x80, 0x9F};
    if (lead < 0xF0)
        return {3, 0x80, 0xBF};
    if (lead == 0xF0)
        return {4, 0x90, 0xBF};
    if (lead < 0xF4)
        return {4, 0x80, 0xBF};
    if (lead == 0xF4)
        return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

}  // namespace

std::string decode_utf8_lossy(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto sequence = sequence_for(bytes[i]);
        if (sequence.length == 0) {
            text += kReplacement;
            ++i;
            continue;
        }
        // Take continuation bytes while they can still belong to a well-formed
        // sequence; a sequence cut short is one maximal invalid subpart.
        std::size_t end = i + 1;
        while (end < bytes.size() && end - i < sequence.length) {
            const auto min = end == i + 1 ? sequence.second_min : std::uint8_t{0x80};
            const auto max = end == i + 1 ? sequence.second_max : std::uint8_t{0xBF};
            if (bytes[end] < min || bytes[end] > max)
                break;
            ++end;
        }
        if (end - i == sequence.length) {
            text.append(reinterpret_cast<const char*>(bytes.data() + i), end - i);
        } else {
            text += kReplacement;
        }
        i = end;
    }
    return text;
}

}  // namespace norvo::service
