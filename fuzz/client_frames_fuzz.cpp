// The client library's side of the transport: the service's byte stream split
// into frames and each payload decoded as the client decodes it: the Hello, a
// procedure's Result by its opnum, a Fault, a Callback. Whatever decodes must
// re-encode to the same bytes.

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

template <class Message>
void round_trip(std::span<const std::uint8_t> payload) {
    const auto message = wire::decode<Message>(payload);
    if (message)
        check_reencodes(wire::encode(*message), payload);
}

// The reply type each procedure's caller decodes.
void decode_result(const wire::ReceivedFrame& frame) {
    switch (frame.header.opnum) {
        case wire::kOpnum<wire::call::RemoteOpen>:
            return round_trip<wire::result::RemoteOpen>(frame.payload);
        case wire::kOpnum<wire::call::RemoteClose>:
            return round_trip<wire::result::RemoteClose>(frame.payload);
        case wire::kOpnum<wire::call::NorvoQueryProperty>:
            return round_trip<wire::result::NorvoQueryProperty>(frame.payload);
        default:
            return round_trip<wire::result::Status>(frame.payload);
    }
}

void decode_callback(const wire::ReceivedFrame& frame) {
    const auto call = wire::decode_callback(frame.header.opnum, frame.payload);
    if (!call)
        return check_refusal<wire::Callback>(frame.header.opnum, call.error());
    check(wire::opnum_of(call->callback) == frame.header.opnum,
          "a callback decodes as its opnum's callback");
    check_reencodes(wire::encode_callback(*call), frame.payload);
}

void decode_fault(const wire::ReceivedFrame& frame) {
    const auto fault = wire::decode<wire::Fault>(frame.payload);
    check(fault.has_value() == (frame.payload.size() == 4), "a fault is one status");
    if (fault)
        check(!wire::describe_status(fault->status).empty(), "every status has a description");
    round_trip<wire::Fault>(frame.payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool read =
        norvo::fuzz::for_each_frame({data, size}, [](const wire::ReceivedFrame& frame) {
            switch (static_cast<wire::FrameKind>(frame.header.kind)) {
                case wire::FrameKind::Hello:
                    return round_trip<wire::Hello>(frame.payload);
                case wire::FrameKind::Result:
                    return decode_result(frame);
                case wire::FrameKind::Fault:
                    return decode_fault(frame);
                case wire::FrameKind::Callback:
                    return decode_callback(frame);
                default:
                    return;  // nothing else answers a call
            }
        });
    return read ? 0 : -1;
}
