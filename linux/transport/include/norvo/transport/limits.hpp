#pragma once

#include <cstddef>

namespace norvo::transport {

// What one service admits at once. A client past a limit gets server_too_busy
// or out_of_resources; nobody else notices.
struct Limits {
    std::size_t connections = 1234;
    // Calls that hold a thread of their own: sensor runs and closes.
    std::size_t long_calls = 1234;
    std::size_t contexts_per_connection = 1024;
};

}  // namespace norvo::transport
