#pragma once

#include <cstdint>
#include <span>

#include "norvo/wire/frame.hpp"

namespace norvo::transport {

class Connection;

// Decodes one Call frame and runs the procedure: a sensor run or a close on a
// worker thread, each under its own per-user limit, everything else at once on
// the reactor thread, since it never waits. Whatever the transport rejects is answered with a fault
// to this client only, and nothing is logged for it.
void dispatch_call(Connection& connection, const wire::FrameHeader& header,
                   std::span<const std::uint8_t> payload);

}  // namespace norvo::transport
