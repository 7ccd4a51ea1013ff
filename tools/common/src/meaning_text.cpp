#include "norvo/tools/meaning_text.hpp"

#include <fmt/format.h>

#include <array>
#include <bit>
#include <utility>

#include "norvo/little_endian.hpp"
#include "norvo/sensors/types.hpp"
#include "norvo/service/hresult.hpp"
#include "norvo/service/properties.hpp"
#include "norvo/tools/callback_text.hpp"

namespace norvo::tools {
namespace {

using service::PropertyKind;

constexpr std::array<std::pair<std::int32_t, std::string_view>, 4> kResults{{
    {service::hr::ok, "S_OK"},
    {service::hr::invalid_arg, "E_INVALIDARG"},
    {service::hr::unexpected, "E_UNEXPECTED"},
    {service::hr::abort, "E_ABORT"},
}};

// Those the Linux transport reports and those the Windows runtime may.
constexpr std::array<std::pair<std::int32_t, std::string_view>, 20> kStatuses{{
    {5, "ERROR_ACCESS_DENIED"},
    {6, "RPC_X_SS_CONTEXT_MISMATCH"},
    {14, "ERROR_OUTOFMEMORY"},
    {1702, "RPC_S_INVALID_BINDING"},
    {1706, "RPC_S_INVALID_ENDPOINT_FORMAT"},
    {1717, "RPC_S_UNKNOWN_IF"},
    {1720, "RPC_S_CANT_CREATE_ENDPOINT"},
    {1721, "RPC_S_OUT_OF_RESOURCES"},
    {1722, "RPC_S_SERVER_UNAVAILABLE"},
    {1723, "RPC_S_SERVER_TOO_BUSY"},
    {1726, "RPC_S_CALL_FAILED"},
    {1727, "RPC_S_CALL_FAILED_DNE"},
    {1728, "RPC_S_PROTOCOL_ERROR"},
    {1740, "RPC_S_DUPLICATE_ENDPOINT"},
    {1745, "RPC_S_PROCNUM_OUT_OF_RANGE"},
    {1753, "EPT_S_NOT_REGISTERED"},
    {1775, "RPC_X_SS_IN_NULL_CONTEXT"},
    {1780, "RPC_X_NULL_REF_POINTER"},
    {1783, "RPC_X_BAD_STUB_DATA"},
    {1818, "RPC_S_CALL_CANCELLED"},
}};

template <std::size_t N>
std::optional<std::string_view> name_in(
    const std::array<std::pair<std::int32_t, std::string_view>, N>& names, std::int32_t value) {
    for (const auto& [number, name] : names) {
        if (number == value)
            return name;
    }
    return std::nullopt;
}

// Printable ASCII as it is, anything else as \xNN, so a line stays one line.
std::string quoted(std::span<const std::uint8_t> text) {
    std::string out = "\"";
    for (const auto byte : text) {
        if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
            out.push_back(static_cast<char>(byte));
        } else {
            out += fmt::format("\\x{:02X}", byte);
        }
    }
    return out + "\"";
}

std::string decoded(PropertyKind kind, std::span<const std::uint8_t> value) {
    switch (kind) {
        case PropertyKind::Version:
            return fmt::format("{}.{}.{}.{}", read_le<std::uint16_t>(value),
                               read_le<std::uint16_t>(value.subspan(2)),
                               read_le<std::uint16_t>(value.subspan(4)),
                               read_le<std::uint16_t>(value.subspan(6)));
        case PropertyKind::Switch:
            return value[0] != 0 ? "on" : "off";
        case PropertyKind::Unsigned32:
            return std::to_string(read_le<std::uint32_t>(value));
        case PropertyKind::Unsigned64:
            return std::to_string(read_le<std::uint64_t>(value));
        case PropertyKind::Signed32:
            return std::to_string(std::bit_cast<std::int32_t>(read_le<std::uint32_t>(value)));
        case PropertyKind::Float32:
            return fmt::format("{}", std::bit_cast<float>(read_le<std::uint32_t>(value)));
        case PropertyKind::Text:
            return quoted(value);
    }
    return {};
}

std::string_view format_text(PropertyKind kind) {
    switch (kind) {
        case PropertyKind::Version:
            return "four unsigned 16-bit numbers (8 bytes)";
        case PropertyKind::Switch:
            return "switch, 0 or 1 (1 byte)";
        case PropertyKind::Unsigned32:
            return "unsigned 32-bit (4 bytes)";
        case PropertyKind::Unsigned64:
            return "unsigned 64-bit (8 bytes)";
        case PropertyKind::Signed32:
            return "signed 32-bit (4 bytes)";
        case PropertyKind::Float32:
            return "32-bit float (4 bytes)";
        case PropertyKind::Text:
            return "text of 1 to 128 bytes, read with a zero byte after it";
    }
    return {};
}

}  // namespace

std::optional<std::string_view> hresult_name(std::int32_t value) {
    return name_in(kResults, value);
}

std::optional<std::string_view> rpc_status_name(std::int32_t status) {
    return name_in(kStatuses, status);
}

std::optional<std::string> property_meaning(std::int32_t key, std::span<const std::uint8_t> value) {
    const auto* info = service::find_property(key);
    if (info == nullptr)
        return std::nullopt;
    if (info->kind == PropertyKind::Text) {
        if (value.empty() || value.back() != 0)
            return std::nullopt;
        value = value.first(value.size() - 1);
    } else if (value.size() != service::value_size(info->kind)) {
        return std::nullopt;
    }
    auto text = fmt::format("{}: {}", info->name, decoded(info->kind, value));
    if (!info->unit.empty())
        text += fmt::format(" {}", info->unit);
    return text;
}

std::string reference_text() {
    std::string out = "Property keys (values little-endian):\n";
    for (const auto& p : service::kProperties) {
        const auto key = p.key > 0xFFFF ? fmt::format("0x{:X}", p.key) : std::to_string(p.key);
        auto what = std::string(format_text(p.kind));
        if (!p.unit.empty())
            what += fmt::format(", in {}", p.unit);
        out += fmt::format("  {:<11} {:<28} {}{}\n", key, p.name, what,
                           p.settable ? "" : ", query only");
    }
    out += "Tap kinds (TapEvent):\n";
    for (std::int32_t kind = 1; tap_kind_name(kind) != std::to_string(kind); ++kind)
        out += fmt::format("  {:<11} {}\n", kind, tap_kind_name(kind));
    out += "Sensor states (SensorStateChanged):\n";
    for (std::int32_t state = 0; auto known = sensors::sensor_state_from_platform(state); ++state)
        out += fmt::format("  {:<11} {}\n", state, sensors::sensor_state_name(*known));
    return out;
}

}  // namespace norvo::tools
