#pragma once
// Frames on the transport's socket: a 32-bit little-endian length, then an
// eight-byte header (kind, opnum, two zero bytes, call id) and the payload.
// The length counts header and payload and never exceeds kMaxFrameSize.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace norvo::wire {

enum class FrameKind : std::uint8_t {
    Hello = 1,          // service to client, once after connecting: version and admission
    Call = 2,           // client to service: a procedure call
    Result = 3,         // service to client: the call's [out] parameters and return value
    Fault = 4,          // service to client: the call could not be carried out
    Callback = 5,       // service to client, inside an outstanding NorvoStartSensor
    CallbackReply = 6,  // client to service: the callback has been handled
    Join = 7,           // client to service, instead of its Hello: this connection joins an
                        // association; the service answers with a Hello
};

inline constexpr std::uint32_t kProtocolVersion = 2;

inline constexpr std::size_t kLengthSize = 4;
inline constexpr std::size_t kHeaderSize = 8;
// Room for the largest call, a query with two full property buffers (about 128 KiB).
inline constexpr std::size_t kMaxFrameSize = 256 * 1024;

struct FrameHeader {
    std::uint8_t kind;  // as received: the receiver decides which kinds it takes
    std::uint8_t opnum;
    std::uint32_t call_id;
};

struct FrameView {
    FrameHeader header;
    std::span<const std::uint8_t> payload;  // views the bytes given to parse_frame
};

// The complete frame, length field included. The payload must fit kMaxFrameSize.
std::vector<std::uint8_t> make_frame(FrameKind kind, std::uint8_t opnum, std::uint32_t call_id,
                                     std::span<const std::uint8_t> payload);

// Header and payload size from a length field; none when outside [kHeaderSize, kMaxFrameSize].
std::optional<std::size_t> frame_length(std::span<const std::uint8_t, kLengthSize> field);

// Splits what follows the length field; none when it is shorter than a header or
// the reserved bytes are not zero.
std::optional<FrameView> parse_frame(std::span<const std::uint8_t> body);

}  // namespace norvo::wire
