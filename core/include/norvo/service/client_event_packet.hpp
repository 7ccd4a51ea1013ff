#pragma once
// Client event packets, in both directions: a six-byte header of three
// little-endian 16-bit numbers (version, event type, payload length), then the payload.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace norvo::service {

// Numbers outside the enumerators are carried as they came: the receiver rejects them.
enum class ClientEventType : std::uint16_t { Phone = 1, ConfirmedTap = 2 };

struct ClientEventPacket {
    std::uint16_t packet_version;
    ClientEventType event_type;
    // Views the bytes that were parsed; bytes after the declared payload are left out.
    std::span<const std::uint8_t> payload;
};

inline constexpr std::size_t kClientEventHeaderSize = 6;

// Forwards a confirmed tap to the phone. Version 2 yet without a pulse, so the
// receive rules would refuse it: it is only ever sent.
inline constexpr std::array<std::uint8_t, kClientEventHeaderSize> kConfirmedTapPacket{2, 0, 2,
                                                                                      0, 0, 0};

// Accepts version 1 with no payload and version 2 with a four-byte pulse; nothing
// when the bytes are shorter than the header plus its declared payload.
std::optional<ClientEventPacket> parse_client_event_packet(std::span<const std::uint8_t> bytes);

// The pulse of a version-2 packet; none for version 1.
std::optional<float> packet_pulse(const ClientEventPacket& packet);

}  // namespace norvo::service
