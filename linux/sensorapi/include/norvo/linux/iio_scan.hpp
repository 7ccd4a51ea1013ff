#pragma once
// The records of an IIO buffer: each enabled channel's `type` in scan_elements
// ([be|le]:[s|u]BITS/STORAGE[XREPEAT][>>SHIFT]), where the channel lies in a record, and its
// value there; and the rate to ask of a device from what it says it offers.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::linux_platform::iio {

struct ChannelType {
    bool big_endian = false;
    bool is_signed = false;
    unsigned bits = 0;          // of the value
    unsigned storage_bits = 0;  // 8, 16, 32 or 64
    unsigned repeat = 1;        // elements of the channel in a record
    unsigned shift = 0;         // of the value within its storage

    bool operator==(const ChannelType&) const = default;
};

// The reason when `text` is no channel type this code can read.
[[nodiscard]] std::expected<ChannelType, std::string> parse_channel_type(std::string_view text);

struct ScanChannel {
    std::string name;  // "in_accel_x", "in_timestamp"
    unsigned index = 0;
    ChannelType type;
};

inline constexpr std::string_view kTimestampChannel = "in_timestamp";

// The kernel's layout: the channels in scan index order, the timestamp last, each aligned to
// its size (storage times repeat), the record padded to a multiple of the largest.
struct RecordLayout {
    struct Placed {
        ScanChannel channel;
        std::size_t offset = 0;
    };
    std::vector<Placed> channels;
    std::size_t size = 0;

    const Placed* find(std::string_view name) const;
};

RecordLayout lay_out(std::vector<ScanChannel> channels);

// The first element of a channel placed at `offset` in `record`: shifted, masked to its bits
// and sign-extended.
std::int64_t channel_value(std::span<const std::uint8_t> record, std::size_t offset,
                           const ChannelType& type);

// What to ask for from what sampling_frequency_available says ("12.5 25 50 100", or a range
// "[MIN STEP MAX]"): the least rate at or above `least`, or else the highest; nothing when it
// says nothing readable.
std::optional<double> choose_rate(std::string_view available, double least);

}  // namespace norvo::linux_platform::iio
