// RemoteOpen, RemoteClose, the rundown and NorvoStopSensor.

#include "norvo/service/log_target.hpp"
#include "norvo/service/procedures.hpp"

namespace norvo::service {
namespace {

void close_context(ContextHandle context) {
    // Closing goes on either way; NorvoStopSensor logs its own failure.
    (void)NorvoStopSensor(*context);
    auto gate = context->processing_gate;
    gate->wait_idle([] { kLog.info("Waiting for data processing to finish"); });
    kLog.info("Data processing finished");
    context.reset();
}

}  // namespace

void RemoteOpen(ContextHandle& out) {
    kLog.debug("RemoteOpen() called");
    out = std::make_unique<ClientContext>();
}

void RemoteClose(ContextHandle& handle) {
    kLog.debug("RemoteClose() called");
    if (!handle) {
        kLog.debug("RemoteClose() called with null context");
        return;
    }
    close_context(std::move(handle));
    handle.reset();
    kLog.debug("RemoteClose() finished");
}

void PCONTEXT_HANDLE_TYPE_rundown(ContextHandle context) {
    kLog.debug("PCONTEXT_HANDLE_TYPE_rundown() called");
    RemoteClose(context);
}

HRESULT NorvoStopSensor(ClientContext& context) {
    kLog.debug("NorvoStopSensor() called");
    auto sender = context.stop_sender.get();
    if (!sender) {
        kLog.error("Stop channel not initialized");
        return hr::abort;
    }
    if (auto sent = sender->try_send(StopMessage{}); !sent) {
        kLog.error("Failed to send stop event: {}", sent.error());
        return hr::abort;
    }
    return hr::ok;
}

}  // namespace norvo::service
