#pragma once
// What the connections of one server share.

#include <atomic>
#include <string>

#include "association.hpp"
#include "norvo/service/user_quota.hpp"
#include "norvo/transport/access_policy.hpp"
#include "norvo/transport/limits.hpp"
#include "worker_threads.hpp"

namespace norvo::transport {

struct ServerState {
    ServerState(AccessPolicy access, Limits limits)
        : policy(access),
          limits(limits),
          connections("connections", limits.connections, limits.connections_per_user,
                      uncounted(access)),
          starts("running starts", limits.starts, limits.starts_per_user, uncounted(access)),
          closes("closes in progress", limits.closes, limits.closes_per_user, uncounted(access)),
          contexts("contexts", limits.contexts, limits.contexts_per_user, uncounted(access)),
          associations(limits.contexts_per_client),
          // A thread for every run, every close and every connection's rundown.
          workers({.max_threads = limits.starts + limits.closes + limits.connections,
                   .idle_time = limits.thread_idle_time}),
          // Kept for the rundowns no worker could take: they wait here, never on the reactor.
          rundowns({.max_threads = 1,
                    .floor = 1,
                    .idle_time = limits.thread_idle_time,
                    .queue_when_busy = true}) {}

    const AccessPolicy policy;
    const Limits limits;
    std::atomic<bool> interface_registered{true};
    service::UserQuota connections;
    service::UserQuota starts;
    service::UserQuota closes;
    service::UserQuota contexts;  // before the associations, whose contexts hold its permits
    Associations associations;    // the reactor thread's alone
    // Declared last, so they are destroyed first: their tasks use everything above.
    WorkerThreads workers;
    WorkerThreads rundowns;

  private:
    static std::vector<service::AccountKey> uncounted(const AccessPolicy& access) {
        return {account_of(0), account_of(access.service_uid)};
    }
};

}  // namespace norvo::transport
