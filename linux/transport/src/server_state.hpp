#pragma once
// What the connections of one server share.

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "norvo/transport/access_policy.hpp"
#include "norvo/transport/limits.hpp"
#include "worker_threads.hpp"

namespace norvo::transport {

class Connection;

// Counts the calls in progress that hold a thread of their own.
class CallLimit {
  public:
    class Permit {
      public:
        explicit Permit(CallLimit& limit) : limit_(&limit) {}
        Permit(Permit&& other) noexcept : limit_(std::exchange(other.limit_, nullptr)) {}
        Permit& operator=(Permit&&) = delete;
        ~Permit() {
            if (limit_)
                limit_->running_.fetch_sub(1);
        }

      private:
        CallLimit* limit_;
    };

    explicit CallLimit(std::size_t max) : max_(max) {}
    std::optional<Permit> try_enter();

  private:
    const std::size_t max_;
    std::atomic<std::size_t> running_{0};
};

class ConnectionRegistry {
  public:
    bool has_room(std::size_t limit) const;
    void add(const std::shared_ptr<Connection>& connection);
    void remove(const Connection* connection);
    std::vector<std::shared_ptr<Connection>> all() const;

  private:
    mutable std::mutex mutex_;
    std::unordered_map<const Connection*, std::shared_ptr<Connection>> connections_;
};

struct ServerState {
    ServerState(AccessPolicy access, Limits limits)
        : policy(access),
          limits(limits),
          long_calls(limits.long_calls),
          workers(limits.connections + limits.long_calls) {}

    const AccessPolicy policy;
    const Limits limits;
    std::atomic<bool> interface_registered{true};
    CallLimit long_calls;
    ConnectionRegistry connections;
    // Declared last, so it is destroyed first: its tasks use everything above.
    WorkerThreads workers;
};

}  // namespace norvo::transport
