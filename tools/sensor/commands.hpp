#pragma once
// The commands vtap-sensor reads from standard input, one per line.

#include <chrono>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "norvo/linux/sensor_device_protocol.hpp"

namespace norvo::vtap_sensor {

inline constexpr std::string_view kDefaultModel = "NorvoSimTap";
inline constexpr std::string_view kDefaultManufacturer = "Norvo";

// The data-field count of the next enter.
struct SetFields {
    std::uint32_t count;
    friend bool operator==(const SetFields&, const SetFields&) = default;
};

struct Sleep {
    std::chrono::milliseconds duration;
    friend bool operator==(const Sleep&, const Sleep&) = default;
};

// An Enter here carries no field count yet: the tool adds the one `fields` set.
using Command = std::variant<linux_platform::sensor_device::Message, SetFields, Sleep>;

// Nothing for a blank line or a comment (#); an error text for a bad line.
[[nodiscard]] std::expected<std::optional<Command>, std::string> parse_command(
    std::string_view line);

}  // namespace norvo::vtap_sensor
