// The service's side of the transport: a client's byte stream split into frames
// and the Call and CallbackReply payloads decoded, as a connection does before
// it dispatches. Whatever decodes must re-encode to the same bytes.

#include <cstddef>
#include <cstdint>
#include <span>

#include "norvo/wire/interface.hpp"
#include "support/check.hpp"
#include "support/frame_stream.hpp"

namespace {

using norvo::fuzz::check;
using norvo::fuzz::check_reencodes;
using norvo::fuzz::check_refusal;
namespace wire = norvo::wire;

void decode_call(const wire::ReceivedFrame& frame) {
    const auto call = wire::decode_call(frame.header.opnum, frame.payload);
    if (!call)
        return check_refusal<wire::Call>(frame.header.opnum, call.error());
    check(wire::opnum_of(*call) == frame.header.opnum, "a call decodes as its opnum's procedure");
    check_reencodes(wire::encode_call(*call), frame.payload);
}

void decode_callback_reply(const wire::ReceivedFrame& frame) {
    const auto reply = wire::decode<wire::CallbackReply>(frame.payload);
    check(reply.has_value() == (frame.payload.size() == 8), "a reply is sequence and status");
    if (reply)
        check_reencodes(wire::encode(*reply), frame.payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool read =
        norvo::fuzz::for_each_frame({data, size}, [](const wire::ReceivedFrame& frame) {
            switch (static_cast<wire::FrameKind>(frame.header.kind)) {
                case wire::FrameKind::Call:
                    return decode_call(frame);
                case wire::FrameKind::CallbackReply:
                    return decode_callback_reply(frame);
                default:
                    return;  // answered with a protocol fault, nothing decoded
            }
        });
    return read ? 0 : -1;
}
