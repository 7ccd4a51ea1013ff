// NorvoReceiveClientEvent: hands a phone tap from the client to its sensor loop.

#include "norvo/service/client_event_packet.hpp"
#include "norvo/service/log_target.hpp"
#include "norvo/service/procedures.hpp"
#include "norvo/text.hpp"

namespace norvo::service {
namespace {

// The client picks the packet's size; phone packets are a few bytes.
constexpr std::size_t kShownPacketBytes = 256;

}  // namespace

HRESULT NorvoReceiveClientEvent(ClientContext& context, std::span<const std::uint8_t> packet) {
    kLog.debug("NorvoReceiveClientEvent() called");
    if (packet.size() <= kShownPacketBytes) {
        kLog.debug("Raw Data received: {}", ByteList{packet});
    } else {
        kLog.debug("Raw Data received: {} … ({} bytes)", ByteList{packet.first(kShownPacketBytes)},
                   packet.size());
    }

    const auto parsed = parse_client_event_packet(packet);
    if (!parsed) {
        kLog.error("Failed to parse payload");
        return hr::invalid_arg;
    }
    if (parsed->event_type != ClientEventType::Phone) {
        kLog.error("Unknown event received");
        return hr::invalid_arg;
    }
    kLog.debug("Phone event received");

    // A copy, so that the send happens outside the cell's lock and survives a
    // concurrent start replacing the sender.
    const auto sender = context.phone_event_sender.get();
    if (!sender) {
        kLog.error("Phone event channel not initialized");
        return hr::abort;
    }
    // Never waits: a stalled loop must not hold up the RPC thread.
    if (auto sent = sender->try_send(PhoneEvent{packet_pulse(*parsed)}); !sent) {
        kLog.error("Failed to send phone event: {}", sent.error());
        return hr::abort;
    }
    kLog.debug("Data received: {}", ByteList{parsed->payload});
    return hr::ok;
}

}  // namespace norvo::service
