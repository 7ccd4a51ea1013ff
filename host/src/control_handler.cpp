#include "norvo/host/control_handler.hpp"

#include "norvo/host/control_decoder.hpp"
#include "norvo/host/log_targets.hpp"

namespace norvo::host {
namespace {

bool ends_the_service(const ControlEvent& event) {
    const auto* plain = std::get_if<PlainControl>(&event.value);
    return plain && (*plain == PlainControl::Stop || *plain == PlainControl::Shutdown ||
                     *plain == PlainControl::Preshutdown);
}

}  // namespace

std::uint32_t ControlHandler::handle(std::uint32_t control, std::uint32_t event_type,
                                     const void* event_data) {
    auto event = decode_control(control, event_type, event_data);
    if (!event)
        return kCallNotImplemented;
    kHostLog.trace("Service control event: {}", *event);
    if (!events_)
        return kNoError;  // a late control after the channel was released
    const bool last = ends_the_service(*event);
    events_->send(std::move(*event));  // the run loop may be gone: the event is dropped
    if (last)
        events_.reset();
    return kNoError;
}

}  // namespace norvo::host
