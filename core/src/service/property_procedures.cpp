// NorvoSetProperty and NorvoQueryProperty.

#include "norvo/service/log_target.hpp"
#include "norvo/service/procedures.hpp"
#include "norvo/service/utf8.hpp"
#include "norvo/text.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <concepts>
#include <cstdio>
#include <expected>
#include <string_view>
#include <vector>

namespace norvo::service {
namespace {

namespace key {
constexpr PropertyKey version = 1;
constexpr PropertyKey simulation_mode = 2;
constexpr PropertyKey confirmation_range = 3;
constexpr PropertyKey connected_user = 4;
constexpr PropertyKey tap_strength = 5;
constexpr PropertyKey forward_confirm_tap = 6;
constexpr PropertyKey client_user_agent = 7;
constexpr PropertyKey ignore_unidentified_clients = 8;
constexpr PropertyKey enable_unconfirmed_taps = 9;
constexpr PropertyKey dropped_sensor_reports = 10;  // read-only
constexpr PropertyKey debug_mode = 0x3C5A0E91;
}  // namespace key

constexpr std::size_t kMaxClientIdSize = 128;

using Bytes = std::vector<std::uint8_t>;
using Value = std::expected<Bytes, HRESULT>;

template <std::unsigned_integral T>
void append_le(Bytes& out, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

Bytes u32_le(std::uint32_t value) {
    Bytes out;
    append_le(out, value);
    return out;
}

std::uint32_t read_u32_le(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < sizeof(value); ++i) {
        value |= std::uint32_t{bytes[i]} << (8 * i);
    }
    return value;
}

// --- set ---

template <class Store>
HRESULT set_switch(std::string_view name, std::span<const std::uint8_t> value, Store store) {
    if (value.size() != 1)
        return hr::invalid_arg;
    const bool on = value[0] != 0;
    store(on);
    kLog.trace("{} property set to {}", name, on);
    return hr::ok;
}

HRESULT set_setting_switch(ClientContext& context, bool TapSettings::*field, std::string_view name,
                           std::span<const std::uint8_t> value) {
    return set_switch(name, value, [&](bool on) {
        context.settings->with([&](TapSettings& settings) { settings.*field = on; });
    });
}

HRESULT set_confirmation_range(ClientContext& context, std::span<const std::uint8_t> value) {
    if (value.size() != sizeof(std::uint32_t))
        return hr::invalid_arg;
    const auto range = read_u32_le(value);
    context.settings->with([&](TapSettings& settings) { settings.confirmation_range = range; });
    kLog.trace("confirmation range property set to {}", range);
    return hr::ok;
}

HRESULT set_client_id(ClientContext& context, std::span<const std::uint8_t> value) {
    kLog.trace("client user agent got size: {}", value.size());
    if (value.empty() || value.size() > kMaxClientIdSize)
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

Value version_value(ClientContext& context) {
    kLog.trace("version property querried");
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

Bytes setting_switch_value(ClientContext& context, bool TapSettings::*field) {
    return {context.settings->with([&](const TapSettings& s) { return std::uint8_t{s.*field}; })};
}

Value tap_strength_value(ClientContext& context) {
    kLog.trace("tap strength querried");
    const auto strength = context.tap_strength->get();
    if (!strength) {
        kLog.error("No tap strength available");
        return std::unexpected(hr::unexpected);
    }
    return u32_le(std::bit_cast<std::uint32_t>(*strength));
}

Bytes dropped_sensor_reports_value(ClientContext& context) {
    kLog.trace("dropped sensor reports queried");
    Bytes out;
    append_le(out, context.dropped_sensor_reports->load(std::memory_order_relaxed));
    return out;
}

Bytes client_id_value(ClientContext& context) {
    kLog.trace("forward client_id querried");
    auto out = context.client_id->with([](const std::optional<std::string>& id) {
        return id ? Bytes(id->begin(), id->end()) : Bytes{};
    });
    out.push_back(0);
    return out;
}

Value property_value(ClientContext& context, PropertyKey property) {
    switch (property) {
        case key::version:
            return version_value(context);
        case key::simulation_mode:
            kLog.trace("simulation mode property querried");
            return setting_switch_value(context, &TapSettings::simulation_mode);
        case key::forward_confirm_tap:
            kLog.trace("forward confirm tap querried");
            return setting_switch_value(context, &TapSettings::forward_confirm_tap);
        case key::enable_unconfirmed_taps:
            kLog.trace("enable unconfirmed taps querried");
            return setting_switch_value(context, &TapSettings::enable_unconfirmed_taps);
        case key::debug_mode:
            kLog.trace("debug mode property querried");
            return setting_switch_value(context, &TapSettings::debug_mode);
        case key::ignore_unidentified_clients:
            kLog.trace("ignore unidentified clients querried");
            return Bytes{std::uint8_t{context.ignore_unidentified_clients->get()}};
        case key::confirmation_range:
            kLog.trace("confirmation range property querried");
            return u32_le(
                context.settings->with([](const TapSettings& s) { return s.confirmation_range; }));
        case key::connected_user:
            kLog.trace("connected user querried");
            return u32_le(static_cast<std::uint32_t>(connected_user_count.load()));
        case key::tap_strength:
            return tap_strength_value(context);
        case key::dropped_sensor_reports:
            return dropped_sensor_reports_value(context);
        case key::client_user_agent:
            return client_id_value(context);
        default:
            kLog.trace("unknown property querried");
            std::fputs("unknown\n", stdout);
            std::fflush(stdout);
            return std::unexpected(hr::invalid_arg);
    }
}

}  // namespace

HRESULT NorvoSetProperty(ClientContext& context, PropertyKey property,
                         std::span<const std::uint8_t> value) {
    kLog.debug("NorvoSetProperty() Called key: {}, input size: {}", property, value.size());
    switch (property) {
        case key::simulation_mode:
            return set_setting_switch(context, &TapSettings::simulation_mode, "simulation mode",
                                      value);
        case key::forward_confirm_tap:
            return set_setting_switch(context, &TapSettings::forward_confirm_tap,
                                      "forward confirm tap", value);
        case key::enable_unconfirmed_taps:
            return set_setting_switch(context, &TapSettings::enable_unconfirmed_taps,
                                      "enable unconfirmed taps", value);
        case key::debug_mode:
            return set_setting_switch(context, &TapSettings::debug_mode, "debug mode", value);
        case key::ignore_unidentified_clients:
            return set_switch("ignore unidentified clients", value,
                              [&](bool on) { context.ignore_unidentified_clients->set(on); });
        case key::confirmation_range:
            return set_confirmation_range(context, value);
        case key::client_user_agent:
            return set_client_id(context, value);
        default:
            kLog.trace("unknown property set");
            return hr::invalid_arg;
    }
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
