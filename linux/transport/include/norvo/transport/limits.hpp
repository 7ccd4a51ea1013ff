#pragma once

#include <chrono>
#include <cstddef>

#include "norvo/service/user_quota.hpp"

namespace norvo::transport {

// What one service admits at once, in all and per user. A client past a limit
// gets server_too_busy or out_of_resources; nobody else notices. Root and the
// service's own account count towards the totals only. The shares both platforms
// keep are in norvo/service/user_quota.hpp.
struct Limits {
    // A client's sensor run holds a connection of its own and keeps another
    // for the calls that stop it: two for every start the service runs at once.
    std::size_t connections = 2468;
    std::size_t connections_per_user = 128;
    // Sensor runs and closes each hold a thread of their own, under their own
    // limits, so that closes never wait behind somebody's runs.
    std::size_t starts = 1234;
    std::size_t starts_per_user = service::kStartsPerUser;
    std::size_t closes = 256;
    std::size_t closes_per_user = 32;
    std::size_t contexts_per_client = 1024;  // in all its connections
    std::size_t contexts = service::kContextsInAll;
    std::size_t contexts_per_user = service::kContextsPerUser;
    // A connection that has sent no whole frame by then is ended.
    std::chrono::milliseconds first_frame_deadline{10'000};
    // Bytes that may wait for a client that does not read; past them it is ended.
    std::size_t outgoing_bytes = 1024 * 1024;
    // Worker threads above the first four end after this long without work.
    std::chrono::milliseconds thread_idle_time{30'000};
};

}  // namespace norvo::transport
