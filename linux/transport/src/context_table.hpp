#pragma once
// The context handles of one connection. A handle is an unguessable token that
// only this connection's table knows. Every call on a handle holds a lease on
// its slot, and the context is closed (or run down) only once no lease is left,
// so it outlives every call that uses it.

#include <condition_variable>
#include <cstddef>
#include <expected>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "norvo/service/procedures.hpp"
#include "norvo/wire/codec.hpp"
#include "norvo/wire/status.hpp"

namespace norvo::transport {

class ContextSlot {
  public:
    explicit ContextSlot(service::ContextHandle handle) : handle_(std::move(handle)) {}

    // False once the slot is closing.
    bool enter();
    void leave();

    // Refuses new leases and waits until the last one is released; then
    // RemoteClose, or the rundown when `client_gone`. Runs once per slot.
    void close(bool client_gone);

    // Valid while a lease is held.
    service::ClientContext& context() { return *handle_; }

  private:
    std::mutex mutex_;
    std::condition_variable idle_;
    std::size_t leases_ = 0;
    bool closing_ = false;
    service::ContextHandle handle_;
};

class Lease {
  public:
    explicit Lease(std::shared_ptr<ContextSlot> slot) : slot_(std::move(slot)) {}
    Lease(Lease&&) noexcept = default;
    Lease& operator=(Lease&&) = delete;
    ~Lease() { release(); }

    service::ClientContext& context() const { return slot_->context(); }
    // Lets a close go ahead; later calls do nothing.
    void release();

  private:
    std::shared_ptr<ContextSlot> slot_;
};

class ContextTable {
  public:
    explicit ContextTable(std::size_t capacity) : capacity_(capacity) {}

    // Only the connection's reader inserts, so room it sees stays there.
    bool has_room() const;
    wire::ContextToken insert(service::ContextHandle handle);
    // null_context for the null handle, context_mismatch for one this table does not hold.
    [[nodiscard]] std::expected<Lease, wire::RpcStatus> lease(const wire::ContextToken& token);
    // Null when the table does not hold it.
    std::shared_ptr<ContextSlot> remove(const wire::ContextToken& token);
    std::vector<std::shared_ptr<ContextSlot>> remove_all();

  private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::map<wire::ContextToken, std::shared_ptr<ContextSlot>> slots_;
};

}  // namespace norvo::transport
