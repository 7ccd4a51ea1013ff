#include "norvo/wire/frame.hpp"

namespace norvo::wire {
namespace {

void append_u32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t read_u32(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= std::uint32_t{bytes[i]} << (8 * i);
    return value;
}

}  // namespace

std::vector<std::uint8_t> make_frame(FrameKind kind, std::uint8_t opnum, std::uint32_t call_id,
                                     std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> frame;
    frame.reserve(kLengthSize + kHeaderSize + payload.size());
    append_u32(frame, static_cast<std::uint32_t>(kHeaderSize + payload.size()));
    frame.push_back(static_cast<std::uint8_t>(kind));
    frame.push_back(opnum);
    frame.push_back(0);
    frame.push_back(0);
    append_u32(frame, call_id);
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

std::optional<std::size_t> frame_length(std::span<const std::uint8_t, kLengthSize> field) {
    const std::size_t length = read_u32(field);
    if (length < kHeaderSize || length > kMaxFrameSize)
        return std::nullopt;
    return length;
}

std::optional<FrameView> parse_frame(std::span<const std::uint8_t> body) {
    if (body.size() < kHeaderSize || body[2] != 0 || body[3] != 0)
        return std::nullopt;
    return FrameView{FrameHeader{body[0], body[1], read_u32(body.subspan(4, 4))},
                     body.subspan(kHeaderSize)};
}

}  // namespace norvo::wire
