#include "norvo/service/client_event_packet.hpp"

#include <bit>

namespace norvo::service {
namespace {

constexpr std::uint16_t kVersionNoPayload = 1;
constexpr std::uint16_t kVersionPulse = 2;
constexpr std::size_t kPulseSize = 4;

std::uint16_t read_u16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

bool valid_combination(std::uint16_t version, std::size_t payload_length) {
    return (version == kVersionNoPayload && payload_length == 0) ||
           (version == kVersionPulse && payload_length == kPulseSize);
}

}  // namespace

std::optional<ClientEventPacket> parse_client_event_packet(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kClientEventHeaderSize) {
        return std::nullopt;
    }
    const std::uint16_t version = read_u16(bytes, 0);
    const std::size_t payload_length = read_u16(bytes, 4);
    if (bytes.size() - kClientEventHeaderSize < payload_length) {
        return std::nullopt;
    }
    if (!valid_combination(version, payload_length)) {
        return std::nullopt;
    }
    return ClientEventPacket{version, static_cast<ClientEventType>(read_u16(bytes, 2)),
                             bytes.subspan(kClientEventHeaderSize, payload_length)};
}

std::optional<float> packet_pulse(const ClientEventPacket& packet) {
    if (packet.packet_version != kVersionPulse) {
        return std::nullopt;
    }
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < kPulseSize; ++i) {
        bits |= std::uint32_t{packet.payload[i]} << (8 * i);
    }
    return std::bit_cast<float>(bits);
}

}  // namespace norvo::service
