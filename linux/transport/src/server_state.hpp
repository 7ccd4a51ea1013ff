#pragma once
// What the connections of one server share.

#include <atomic>

#include "association.hpp"
#include "norvo/transport/access_policy.hpp"
#include "norvo/transport/limits.hpp"
#include "user_quota.hpp"
#include "worker_threads.hpp"

namespace norvo::transport {

struct ServerState {
    ServerState(AccessPolicy access, Limits limits)
        : policy(access),
          limits(limits),
          connections(limits.connections, limits.connections_per_user, access.service_uid),
          starts(limits.starts, limits.starts_per_user, access.service_uid),
          closes(limits.closes, limits.closes_per_user, access.service_uid),
          associations(limits.contexts_per_client),
          // A thread for every run, every close and every connection's rundown.
          workers(limits.starts + limits.closes + limits.connections) {}

    const AccessPolicy policy;
    const Limits limits;
    std::atomic<bool> interface_registered{true};
    UserQuota connections;
    UserQuota starts;
    UserQuota closes;
    Associations associations;  // the reactor thread's alone
    // Declared last, so it is destroyed first: its tasks use everything above.
    WorkerThreads workers;
};

}  // namespace norvo::transport
