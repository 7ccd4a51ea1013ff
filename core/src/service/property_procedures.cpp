// NorvoSetProperty and NorvoQueryProperty.

#include "norvo/little_endian.hpp"
#include "norvo/service/log_target.hpp"
#include "norvo/service/procedures.hpp"
#include "norvo/service/properties.hpp"
#include "norvo/service/utf8.hpp"
#include "norvo/standard_output.hpp"
#include "norvo/text.hpp"

#include <algorithm>
#include <charconv>
#include <expected>
#include <string_view>
#include <vector>

namespace norvo::service {
namespace {

using namespace property_key;

using Bytes = std::vector<std::uint8_t>;
using Value = std::expected<Bytes, HRESULT>;

// --- set ---

// The settings field of a switch; null for the process-wide one.
bool TapSettings::* setting_switch(PropertyKey property) {
    switch (property) {
        case simulation_mode:
            return &TapSettings::simulation_mode;
        case forward_confirm_tap:
            return &TapSettings::forward_confirm_tap;
        case enable_unconfirmed_taps:
            return &TapSettings::enable_unconfirmed_taps;
        case debug_mode:
            return &TapSettings::debug_mode;
        default:
            return nullptr;
    }
}

[[nodiscard]] HRESULT set_switch(ClientContext& context, const PropertyInfo& info,
                                 std::span<const std::uint8_t> value) {
    if (!info.accepts_size(value.size()))
        return hr::invalid_arg;
    const bool on = value[0] != 0;
    if (auto field = setting_switch(info.key))
        context.settings->with([&](TapSettings& settings) { settings.*field = on; });
    else
        context.ignore_unidentified_clients->set(on);
    kLog.trace("{} property set to {}", info.name, on);
    return hr::ok;
}

[[nodiscard]] HRESULT set_confirmation_range(ClientContext& context, const PropertyInfo& info,
                                             std::span<const std::uint8_t> value) {
    if (!info.accepts_size(value.size()))
        return hr::invalid_arg;
    const auto range = read_le<std::uint32_t>(value);
    context.settings->with([&](TapSettings& settings) { settings.confirmation_range = range; });
    kLog.trace("confirmation range property set to {}", range);
    return hr::ok;
}

[[nodiscard]] HRESULT set_client_id(ClientContext& context, const PropertyInfo& info,
                                    std::span<const std::uint8_t> value) {
    kLog.trace("client user agent got size: {}", value.size());
    if (!info.accepts_size(value.size()))
        return hr::invalid_arg;
    kLog.trace("client user agent preconvert");
    const auto text = decode_utf8_lossy(value);
    kLog.trace("client user agent got id: {}", Quoted{text});
    context.client_id->set(text);
    kLog.trace("client user agent set to {}", Quoted{text});
    return hr::ok;
}

// --- query ---

struct ParsedVersion {
    std::vector<std::uint16_t> numbers;
    bool failed = false;
};

std::string_view trim(std::string_view text) {
    constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";
    const auto first = text.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

// Parses dot-separated numbers up to the first part that is not one.
ParsedVersion parse_version(std::string_view text) {
    ParsedVersion parsed;
    text = trim(text);
    std::size_t start = 0;
    while (true) {
        const auto dot = text.find('.', start);
        const auto part = text.substr(start, dot == std::string_view::npos ? dot : dot - start);
        std::uint16_t number = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), number);
        if (error != std::errc{} || end != part.data() + part.size()) {
            parsed.failed = true;
            return parsed;
        }
        parsed.numbers.push_back(number);
        if (dot == std::string_view::npos)
            return parsed;
        start = dot + 1;
    }
}

[[nodiscard]] Value version_value(ClientContext& context) {
    const auto version = context.settings->with([](const TapSettings& s) { return s.version; });
    kLog.trace("Version string: {}", version);
    const auto parsed = parse_version(version);
    if (parsed.failed || parsed.numbers.size() != 4) {
        kLog.error("Did parsing fail: {}, version_arr length: {}", parsed.failed,
                   parsed.numbers.size());
        kLog.error("Failed to parse version");
        return std::unexpected(hr::unexpected);
    }
    Bytes out;
    for (auto number : parsed.numbers) append_le(out, number);
    return out;
}

Bytes switch_value(ClientContext& context, PropertyKey property) {
    const auto field = setting_switch(property);
    if (!field)
        return {std::uint8_t{context.ignore_unidentified_clients->get()}};
    return {context.settings->with([&](const TapSettings& s) { return std::uint8_t{s.*field}; })};
}

[[nodiscard]] Value tap_strength_value(ClientContext& context) {
    const auto strength = context.tap_strength->get();
    if (!strength) {
        kLog.error("No tap strength available");
        return std::unexpected(hr::unexpected);
    }
    return le_bytes(*strength);
}

Bytes client_id_value(ClientContext& context) {
    auto out = context.client_id->with([](const std::optional<std::string>& id) {
        return id ? Bytes(id->begin(), id->end()) : Bytes{};
    });
    out.push_back(0);
    return out;
}

[[nodiscard]] Value property_value(ClientContext& context, const PropertyInfo& info) {
    kLog.trace("{}", info.queried);
    if (info.kind == PropertyKind::Switch)
        return switch_value(context, info.key);
    switch (info.key) {
        case version:
            return version_value(context);
        case confirmation_range:
            return le_bytes(
                context.settings->with([](const TapSettings& s) { return s.confirmation_range; }));
        case connected_user:
            return le_bytes(connected_user_count.load());
        case tap_strength:
            return tap_strength_value(context);
        case dropped_sensor_reports:
            return le_bytes(context.dropped_sensor_reports->load(std::memory_order_relaxed));
        case client_id:
            return client_id_value(context);
        default:
            return std::unexpected(hr::unexpected);  // a key without a value source
    }
}

[[nodiscard]] Value property_value(ClientContext& context, PropertyKey property) {
    const auto* info = find_property(property);
    if (!info) {
        kLog.trace("unknown property querried");
        standard_output::write_line("unknown");
        return std::unexpected(hr::invalid_arg);
    }
    return property_value(context, *info);
}

}  // namespace

HRESULT NorvoSetProperty(ClientContext& context, PropertyKey property,
                         std::span<const std::uint8_t> value) {
    kLog.debug("NorvoSetProperty() Called key: {}, input size: {}", property, value.size());
    const auto* info = find_property(property);
    if (!info || !info->settable) {
        kLog.trace("unknown property set");
        return hr::invalid_arg;
    }
    if (info->kind == PropertyKind::Switch)
        return set_switch(context, *info, value);
    if (property == confirmation_range)
        return set_confirmation_range(context, *info, value);
    return set_client_id(context, *info, value);
}

HRESULT NorvoQueryProperty(ClientContext& context, PropertyKey property, std::int32_t& size,
                           std::optional<std::span<std::uint8_t>> buffer,
                           std::optional<std::span<const std::uint8_t>> /*input*/) {
    kLog.debug("NorvoQueryProperty() called");
    if (!buffer)
        kLog.trace("dry run");
    const auto value = property_value(context, property);
    if (!value)
        return value.error();
    size = static_cast<std::int32_t>(value->size());
    if (!buffer)
        return hr::ok;
    if (buffer->size() < value->size()) {
        kLog.error("Output buffer too small {} < {}", buffer->size(), value->size());
        return hr::invalid_arg;
    }
    std::ranges::copy(*value, buffer->begin());
    return hr::ok;
}

}  // namespace norvo::service
