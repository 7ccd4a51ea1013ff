#pragma once
// The property keys: what each one is called in messages, how its value is
// encoded, and whether a client may set it. The procedures, the tools, the
// replay parser, the bench and the fuzz seeds all read this table; a new key is
// one row here (plus, in the procedures, where its value comes from).

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace norvo::service {

using PropertyKey = std::int32_t;

namespace property_key {
inline constexpr PropertyKey version = 1;
inline constexpr PropertyKey simulation_mode = 2;
inline constexpr PropertyKey confirmation_range = 3;
inline constexpr PropertyKey connected_user = 4;
inline constexpr PropertyKey tap_strength = 5;
inline constexpr PropertyKey forward_confirm_tap = 6;
inline constexpr PropertyKey client_id = 7;                    // set as the client user agent
inline constexpr PropertyKey ignore_unidentified_clients = 8;  // process-wide
inline constexpr PropertyKey enable_unconfirmed_taps = 9;
inline constexpr PropertyKey dropped_sensor_reports = 10;  // sensor reports a full queue dropped
inline constexpr PropertyKey debug_mode = 0x3C5A0E91;
}  // namespace property_key

enum class PropertyKind : std::uint8_t {
    Version,  // four unsigned 16-bit numbers
    Switch,   // one byte: set as "not 0", reported as 0 or 1
    Unsigned32,
    Unsigned64,
    Signed32,
    Float32,
    Text,  // set as 1 to kMaxTextSize bytes, reported with one zero byte after it
};

inline constexpr std::size_t kMaxTextSize = 128;

// Bytes of a value of `kind`; 0 for a text, whose length varies.
constexpr std::size_t value_size(PropertyKind kind) {
    switch (kind) {
        case PropertyKind::Version:
            return 8;
        case PropertyKind::Switch:
            return 1;
        case PropertyKind::Unsigned32:
        case PropertyKind::Signed32:
        case PropertyKind::Float32:
            return 4;
        case PropertyKind::Unsigned64:
            return 8;
        case PropertyKind::Text:
            return 0;
    }
    return 0;
}

struct PropertyInfo {
    PropertyKey key;
    std::string_view name;  // as set messages name it
    PropertyKind kind;
    bool settable;
    std::string_view queried;  // the query's Trace message
    std::string_view unit{};   // of a number, for people reading it

    constexpr bool accepts_size(std::size_t size) const {
        if (kind == PropertyKind::Text)
            return size >= 1 && size <= kMaxTextSize;
        return size == value_size(kind);
    }
};

inline constexpr std::array kProperties{
    PropertyInfo{property_key::version, "version", PropertyKind::Version, false,
                 "version property querried"},
    PropertyInfo{property_key::simulation_mode, "simulation mode", PropertyKind::Switch, true,
                 "simulation mode property querried"},
    PropertyInfo{property_key::confirmation_range, "confirmation range", PropertyKind::Unsigned32,
                 true, "confirmation range property querried", "ms"},
    PropertyInfo{property_key::connected_user, "connected user", PropertyKind::Signed32, false,
                 "connected user querried"},
    PropertyInfo{property_key::tap_strength, "tap strength", PropertyKind::Float32, false,
                 "tap strength querried"},
    PropertyInfo{property_key::forward_confirm_tap, "forward confirm tap", PropertyKind::Switch,
                 true, "forward confirm tap querried"},
    PropertyInfo{property_key::client_id, "client user agent", PropertyKind::Text, true,
                 "forward client_id querried"},
    PropertyInfo{property_key::ignore_unidentified_clients, "ignore unidentified clients",
                 PropertyKind::Switch, true, "ignore unidentified clients querried"},
    PropertyInfo{property_key::enable_unconfirmed_taps, "enable unconfirmed taps",
                 PropertyKind::Switch, true, "enable unconfirmed taps querried"},
    PropertyInfo{property_key::dropped_sensor_reports, "dropped sensor reports",
                 PropertyKind::Unsigned64, false, "dropped sensor reports queried"},
    PropertyInfo{property_key::debug_mode, "debug mode", PropertyKind::Switch, true,
                 "debug mode property querried"},
};

// The row of `key`, or null for a key the service does not recognise.
constexpr const PropertyInfo* find_property(PropertyKey key) {
    const auto* row = std::ranges::find(kProperties, key, &PropertyInfo::key);
    return row == kProperties.end() ? nullptr : row;
}

}  // namespace norvo::service
