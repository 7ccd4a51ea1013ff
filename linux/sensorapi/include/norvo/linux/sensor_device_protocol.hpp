#pragma once
// The simulated tap sensor's device protocol: what a device (vtap-sensor) sends to
// the stand-in Sensor API over the device socket, one line per message.
// See docs/sensor-device.md.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace norvo::linux_platform::sensor_device {

inline constexpr std::size_t kMaxLine = 8192;
inline constexpr std::uint32_t kMaxFields = 64;

// The device is present with this state, data-field count, model and manufacturer.
struct Enter {
    std::int32_t state = 0;
    std::uint32_t field_count = 2;
    std::string model;
    std::string manufacturer;

    friend bool operator==(const Enter&, const Enter&) = default;
};

struct Leave {
    friend bool operator==(const Leave&, const Leave&) = default;
};

struct State {
    std::int32_t state = 0;

    friend bool operator==(const State&, const State&) = default;
};

// One field's value as the report carries it: a PROPVARIANT type code and the
// first 8 bytes of the value area.
struct ReportValue {
    std::uint16_t type = 0;
    std::array<std::uint8_t, 8> bytes{};

    friend bool operator==(const ReportValue&, const ReportValue&) = default;
};

// Value i is the value of the device's data field i.
struct Report {
    std::vector<ReportValue> values;

    friend bool operator==(const Report&, const Report&) = default;
};

using Message = std::variant<Enter, Leave, State, Report>;

// The tap sensor's data report, whatever feeds it: two UI4 fields, the tap's strength (the
// peak of its high-passed acceleration in mm/s², 0 where the device measures none) and the
// tap flag.
Report tap_report(std::uint32_t strength, bool tap = true);

// One line, ending in a line feed.
std::string encode(const Message& message);
// One line without its line feed.
[[nodiscard]] std::expected<Message, std::string> decode(std::string_view line);

}  // namespace norvo::linux_platform::sensor_device
