#pragma once
// The context handles of one association. A handle is an unguessable token that
// only this association's table knows. Every call on a handle holds a lease on
// its slot, and the context is closed (or run down) only once no lease is left,
// so it outlives every call that uses it.

#include <cstddef>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <vector>
#include "norvo/mutex.hpp"

#include "norvo/service/lease.hpp"
#include "norvo/service/procedures.hpp"
#include "norvo/service/user_quota.hpp"
#include "norvo/wire/codec.hpp"
#include "norvo/wire/status.hpp"

namespace norvo::transport {

class ContextSlot {
  public:
    ContextSlot(service::ContextHandle handle, service::UserQuota::Permit permit)
        : permit_(std::move(permit)), handle_(std::move(handle)) {}

    // Empty once the slot is closing.
    service::Lease enter() { return leases_.acquire(); }

    // Refuses new leases and waits until the last one is released; then
    // RemoteClose, or the rundown when `client_gone`, and gives the user's share
    // back before the close is answered. Runs once per slot.
    void close(bool client_gone);

    // Valid while a lease is held.
    service::ClientContext& context() { return *handle_; }

  private:
    // The user's share is back only once the context is gone.
    std::optional<service::UserQuota::Permit> permit_;
    service::LeaseCounter leases_;
    service::ContextHandle handle_;
};

// Keeps its slot alive for as long as the lease may still be released.
class ContextLease {
  public:
    ContextLease(std::shared_ptr<ContextSlot> slot, service::Lease lease)
        : slot_(std::move(slot)), lease_(std::move(lease)) {}

    service::ClientContext& context() const { return slot_->context(); }
    // Lets a close go ahead; later calls do nothing.
    void release() { lease_.release(); }

  private:
    std::shared_ptr<ContextSlot> slot_;
    service::Lease lease_;  // declared last: released before the slot may go
};

class ContextTable {
  public:
    explicit ContextTable(std::size_t capacity) : capacity_(capacity) {}

    // Only the reactor thread inserts, so room it sees stays there.
    bool has_room() const;
    wire::ContextToken insert(service::ContextHandle handle, service::UserQuota::Permit permit);
    // null_context for the null handle, context_mismatch for one this table does not hold.
    [[nodiscard]] std::expected<ContextLease, wire::RpcStatus> lease(
        const wire::ContextToken& token);
    // Null when the table does not hold it.
    std::shared_ptr<ContextSlot> remove(const wire::ContextToken& token);
    std::vector<std::shared_ptr<ContextSlot>> remove_all();

  private:
    const std::size_t capacity_;
    mutable Mutex mutex_;
    std::map<wire::ContextToken, std::shared_ptr<ContextSlot>> slots_ GUARDED_BY(mutex_);
};

}  // namespace norvo::transport
