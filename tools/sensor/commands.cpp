#include "commands.hpp"

#include <fmt/format.h>

#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <vector>

#include "norvo/linux/sensorapi.h"

namespace norvo::vtap_sensor {
namespace {

namespace device = linux_platform::sensor_device;

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

template <class T>
[[nodiscard]] std::expected<T, std::string> number(std::string_view text) {
    T value{};
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec == std::errc::result_out_of_range)
        return std::unexpected(fmt::format("out of range: {}", text));
    if (ec != std::errc{} || ptr != end || text.empty())
        return std::unexpected(fmt::format("not a number: {}", text));
    return value;
}

template <class T>
std::array<std::uint8_t, 8> bytes_of(T value) {
    static_assert(sizeof(T) <= 8);
    std::array<std::uint8_t, 8> bytes{};
    std::memcpy(bytes.data(), &value, sizeof value);  // little-endian, as the platform lays it out
    return bytes;
}

struct TypeName {
    std::string_view name;
    std::uint16_t code;
};

constexpr TypeName kTypes[] = {{"Empty", VT_EMPTY}, {"Null", VT_NULL}, {"I2", VT_I2},
                               {"I4", VT_I4},       {"R4", VT_R4},     {"R8", VT_R8},
                               {"UI2", VT_UI2},     {"UI4", VT_UI4},   {"FILETIME", VT_FILETIME}};

template <class T>
[[nodiscard]] std::expected<std::array<std::uint8_t, 8>, std::string> encoded(
    std::string_view text) {
    auto value = number<T>(text);
    if (!value)
        return std::unexpected(value.error());
    return bytes_of(*value);
}

// T:V, V converted to the type; Empty and Null carry zeros (V must still be an integer).
[[nodiscard]] std::expected<device::ReportValue, std::string> report_value(std::string_view item) {
    const auto colon = item.find(':');
    if (colon == std::string_view::npos)
        return std::unexpected(fmt::format("expected TYPE:VALUE, got {}", item));
    const auto type = item.substr(0, colon);
    const auto text = item.substr(colon + 1);
    const TypeName* found = nullptr;
    for (const auto& t : kTypes) {
        if (t.name == type)
            found = &t;
    }
    if (!found)
        return std::unexpected(fmt::format("unknown type: {}", type));
    std::expected<std::array<std::uint8_t, 8>, std::string> bytes;
    switch (found->code) {
        case VT_EMPTY:
        case VT_NULL:
            bytes = encoded<std::int64_t>(text);
            if (bytes)
                bytes->fill(0);
            break;
        case VT_I2:
            bytes = encoded<std::int16_t>(text);
            break;
        case VT_I4:
            bytes = encoded<std::int32_t>(text);
            break;
        case VT_R4:
            if (auto value = number<double>(text)) {
                bytes = bytes_of(static_cast<float>(*value));
            } else {
                bytes = std::unexpected(value.error());
            }
            break;
        case VT_R8:
            bytes = encoded<double>(text);
            break;
        case VT_UI2:
            bytes = encoded<std::uint16_t>(text);
            break;
        case VT_UI4:
            bytes = encoded<std::uint32_t>(text);
            break;
        default:
            bytes = encoded<std::uint64_t>(text);
            break;  // FILETIME: low then high double word
    }
    if (!bytes)
        return std::unexpected(bytes.error());
    return device::ReportValue{found->code, *bytes};
}

[[nodiscard]] std::expected<Command, std::string> report(const std::vector<std::string_view>& w,
                                                         std::size_t first) {
    device::Report out;
    for (std::size_t i = first; i < w.size(); ++i) {
        auto value = report_value(w[i]);
        if (!value)
            return std::unexpected(value.error());
        out.values.push_back(*value);
    }
    if (out.values.size() > device::kMaxFields)
        return std::unexpected(fmt::format("at most {} fields", device::kMaxFields));
    return device::Message{std::move(out)};
}

[[nodiscard]] std::expected<Command, std::string> enter(const std::vector<std::string_view>& w) {
    if (w.size() > 4)
        return std::unexpected(std::string("enter takes at most STATE MODEL MANUFACTURER"));
    device::Enter out{0, 0, std::string(kDefaultModel), std::string(kDefaultManufacturer)};
    if (w.size() > 1) {
        auto state = number<std::int32_t>(w[1]);
        if (!state)
            return std::unexpected(state.error());
        out.state = *state;
    }
    if (w.size() > 2)
        out.model = w[2];
    if (w.size() > 3)
        out.manufacturer = w[3];
    return device::Message{std::move(out)};
}

}  // namespace

std::expected<std::optional<Command>, std::string> parse_command(std::string_view line) {
    const auto w = words(line);
    if (w.empty() || w[0].starts_with('#'))
        return std::optional<Command>{};
    const auto& verb = w[0];
    std::optional<std::int64_t> argument;
    if (verb == "state" || verb == "fields" || verb == "sleep") {
        if (w.size() != 2)
            return std::unexpected(fmt::format("{} takes one number", verb));
        auto n = number<std::int64_t>(w[1]);
        if (!n)
            return std::unexpected(n.error());
        argument = *n;
    }
    auto in_range = [&](std::int64_t low, std::int64_t high) -> std::expected<void, std::string> {
        if (*argument < low || *argument > high) {
            return std::unexpected(fmt::format("{} takes a number from {} to {}", verb, low, high));
        }
        return {};
    };
    std::expected<Command, std::string> command =
        std::unexpected(fmt::format("unknown command: {}", verb));
    if (verb == "enter") {
        command = enter(w);
    } else if (verb == "leave" || verb == "tap" || verb == "notap") {
        if (w.size() != 1)
            return std::unexpected(fmt::format("{} takes no argument", verb));
        command = verb == "leave" ? device::Message{device::Leave{}}
                                  : device::Message{device::tap_report(0, verb == "tap")};
    } else if (verb == "report") {
        command = report(w, 1);
    } else if (verb == "state") {
        auto ok = in_range(std::numeric_limits<std::int32_t>::min(),
                           std::numeric_limits<std::int32_t>::max());
        command = ok ? Command{device::Message{device::State{static_cast<std::int32_t>(*argument)}}}
                     : std::expected<Command, std::string>(std::unexpected(ok.error()));
    } else if (verb == "fields") {
        auto ok = in_range(0, device::kMaxFields);
        command = ok ? Command{SetFields{static_cast<std::uint32_t>(*argument)}}
                     : std::expected<Command, std::string>(std::unexpected(ok.error()));
    } else if (verb == "sleep") {
        auto ok = in_range(0, std::numeric_limits<std::uint32_t>::max());
        command = ok ? Command{Sleep{std::chrono::milliseconds(*argument)}}
                     : std::expected<Command, std::string>(std::unexpected(ok.error()));
    }
    if (!command)
        return std::unexpected(command.error());
    return std::optional<Command>(std::move(*command));
}

}  // namespace norvo::vtap_sensor
