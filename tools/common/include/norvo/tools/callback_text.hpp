#pragma once
// The one-line text forms of the four callbacks that the tools print, e.g.
// "TapEvent Confirmed ts=412 cookie=7". Numbers outside the known tap kinds and
// sensor states are shown as they came.

#include <cstdint>
#include <span>
#include <string>

namespace norvo::tools {

std::string tap_kind_name(std::int32_t kind);
std::string sensor_state_text(std::uint16_t state);
// Upper-case hexadecimal bytes separated by blanks: "02 00 02 00 00 00".
std::string hex_bytes(std::span<const std::uint8_t> bytes);

std::string tap_event_line(std::int32_t kind, std::uint64_t timestamp, std::uint64_t cookie);
std::string send_client_event_line(std::span<const std::uint8_t> packet, std::uint64_t cookie);
std::string sensor_state_changed_line(std::uint64_t timestamp, std::uint16_t state,
                                      std::uint64_t cookie);
std::string signal_return_line(std::int32_t status, std::uint64_t cookie);

// An HRESULT as the tools show it: lower-case hexadecimal with 0x, "0x8000ffff".
std::string result_code(std::int32_t value);

}  // namespace norvo::tools
