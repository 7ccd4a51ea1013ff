#include "norvo/linux/iio_scan.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace norvo::linux_platform::iio {
namespace {

// Reads an unsigned number at the front of `text` and takes it off.
std::optional<unsigned> take_number(std::string_view& text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{})
        return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

bool take(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix))
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

std::size_t size_of(const ChannelType& type) {
    return type.storage_bits / 8 * type.repeat;
}

// As the kernel's ALIGN(), which the layout must match byte for byte.
std::size_t align(std::size_t offset, std::size_t size) {
    return (offset + size - 1) & ~(size - 1);
}

std::vector<double> numbers(std::string_view text) {
    std::vector<double> out;
    while (!text.empty()) {
        const auto start = text.find_first_not_of(" \t\n");
        if (start == std::string_view::npos)
            break;
        text.remove_prefix(start);
        double value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc{} || !std::isfinite(value) || value <= 0)
            return {};
        out.push_back(value);
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    }
    return out;
}

}  // namespace

std::expected<ChannelType, std::string> parse_channel_type(std::string_view text) {
    const auto refused = [&](std::string_view why) {
        return std::unexpected(fmt::format("channel type '{}' {}", text.substr(0, 40), why));
    };
    std::string_view rest = text;
    while (rest.ends_with('\n') || rest.ends_with(' ')) rest.remove_suffix(1);
    ChannelType type;
    if (take(rest, "be:"))
        type.big_endian = true;
    else if (!take(rest, "le:"))
        return refused("has no byte order (be: or le:)");
    if (take(rest, "s"))
        type.is_signed = true;
    else if (!take(rest, "u"))
        return refused("is neither signed (s) nor unsigned (u)");
    const auto bits = take_number(rest);
    if (!bits || !take(rest, "/"))
        return refused("has no BITS/STORAGE");
    const auto storage = take_number(rest);
    if (!storage)
        return refused("has no storage size");
    type.bits = *bits;
    type.storage_bits = *storage;
    if (take(rest, "X")) {
        const auto repeat = take_number(rest);
        if (!repeat || *repeat == 0)
            return refused("has a bad repeat count");
        type.repeat = *repeat;
    }
    if (take(rest, ">>")) {
        const auto shift = take_number(rest);
        if (!shift)
            return refused("has a bad shift");
        type.shift = *shift;
    }
    if (!rest.empty())
        return refused("has more than a type");
    if (type.storage_bits != 8 && type.storage_bits != 16 && type.storage_bits != 32 &&
        type.storage_bits != 64)
        return refused("is stored in other than 8, 16, 32 or 64 bits");
    if (type.bits == 0 || type.bits + type.shift > type.storage_bits)
        return refused("does not fit its storage");
    return type;
}

const RecordLayout::Placed* RecordLayout::find(std::string_view name) const {
    const auto it = std::find_if(channels.begin(), channels.end(),
                                 [&](const Placed& p) { return p.channel.name == name; });
    return it == channels.end() ? nullptr : &*it;
}

RecordLayout lay_out(std::vector<ScanChannel> channels) {
    // The timestamp is no bit of the scan mask: the kernel puts it after the others.
    std::sort(channels.begin(), channels.end(), [](const ScanChannel& a, const ScanChannel& b) {
        const bool a_last = a.name == kTimestampChannel;
        const bool b_last = b.name == kTimestampChannel;
        return a_last != b_last ? b_last : a.index < b.index;
    });
    RecordLayout layout;
    std::size_t largest = 1;
    for (auto& channel : channels) {
        const auto size = size_of(channel.type);
        layout.size = align(layout.size, size);
        layout.channels.push_back({std::move(channel), layout.size});
        layout.size += size;
        largest = std::max(largest, size);
    }
    layout.size = align(layout.size, largest);
    return layout;
}

std::int64_t channel_value(std::span<const std::uint8_t> record, std::size_t offset,
                           const ChannelType& type) {
    const std::size_t bytes = type.storage_bits / 8;
    std::uint64_t raw = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        const std::uint8_t byte = record[offset + (type.big_endian ? i : bytes - 1 - i)];
        raw = raw << 8 | byte;
    }
    raw >>= type.shift;
    if (type.bits < 64) {
        raw &= (std::uint64_t{1} << type.bits) - 1;
        const std::uint64_t sign = std::uint64_t{1} << (type.bits - 1);
        if (type.is_signed && (raw & sign) != 0)
            raw |= ~((std::uint64_t{1} << type.bits) - 1);
    }
    return static_cast<std::int64_t>(raw);
}

std::optional<double> choose_rate(std::string_view available, double least) {
    std::string_view text = available;
    while (text.ends_with('\n') || text.ends_with(' ')) text.remove_suffix(1);
    const bool range = text.starts_with('[') && text.ends_with(']');
    const auto offered = numbers(range ? text.substr(1, text.size() - 2) : text);
    if (range) {
        if (offered.size() != 3)
            return std::nullopt;
        const double low = offered[0], step = offered[1], high = offered[2];
        if (least <= low)
            return low;
        const double stepped = low + std::ceil((least - low) / step) * step;
        return std::min(stepped, high);
    }
    if (offered.empty())
        return std::nullopt;
    std::optional<double> chosen;
    for (double rate : offered) {
        if (rate >= least && (!chosen || rate < *chosen))
            chosen = rate;
    }
    return chosen ? chosen : *std::max_element(offered.begin(), offered.end());
}

}  // namespace norvo::linux_platform::iio
