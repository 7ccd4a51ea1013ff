#pragma once

#include <chrono>
#include <cstddef>

namespace norvo::transport {

// What one service admits at once, in all and per user. A client past a limit
// gets server_too_busy or out_of_resources; nobody else notices. Root and the
// service's own account count towards the totals only.
struct Limits {
    std::size_t connections = 1234;
    std::size_t connections_per_user = 64;
    // Sensor runs and closes each hold a thread of their own, under their own
    // limits, so that closes never wait behind somebody's runs.
    std::size_t starts = 1234;
    std::size_t starts_per_user = 32;
    std::size_t closes = 256;
    std::size_t closes_per_user = 32;
    std::size_t contexts_per_connection = 1024;
    // A connection that has sent no whole frame by then is ended.
    std::chrono::milliseconds first_frame_deadline{10'000};
    // Bytes that may wait for a client that does not read; past them it is ended.
    std::size_t outgoing_bytes = 1024 * 1024;
};

}  // namespace norvo::transport
