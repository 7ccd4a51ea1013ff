#include "context_table.hpp"

#include "random_token.hpp"

namespace norvo::transport {

void ContextSlot::close(bool client_gone) {
    if (!leases_.close())
        return;
    if (client_gone) {
        service::PCONTEXT_HANDLE_TYPE_rundown(std::move(handle_));
    } else {
        service::RemoteClose(handle_);
    }
    permit_.reset();
}

bool ContextTable::has_room() const {
    MutexLock lock(mutex_);
    return slots_.size() < capacity_;
}

wire::ContextToken ContextTable::insert(service::ContextHandle handle,
                                        service::UserQuota::Permit permit) {
    auto slot = std::make_shared<ContextSlot>(std::move(handle), std::move(permit));
    MutexLock lock(mutex_);
    for (;;) {
        const auto token = random_token<wire::ContextTag>();
        if (slots_.try_emplace(token, slot).second)
            return token;
    }
}

std::expected<ContextLease, wire::RpcStatus> ContextTable::lease(const wire::ContextToken& token) {
    if (token.is_null())
        return std::unexpected(wire::status::null_context);
    std::shared_ptr<ContextSlot> slot;
    {
        MutexLock lock(mutex_);
        if (auto found = slots_.find(token); found != slots_.end())
            slot = found->second;
    }
    auto lease = slot ? slot->enter() : service::Lease();
    if (!lease)
        return std::unexpected(wire::status::context_mismatch);
    return ContextLease(std::move(slot), std::move(lease));
}

std::shared_ptr<ContextSlot> ContextTable::remove(const wire::ContextToken& token) {
    MutexLock lock(mutex_);
    auto found = slots_.find(token);
    if (found == slots_.end())
        return nullptr;
    auto slot = std::move(found->second);
    slots_.erase(found);
    return slot;
}

std::vector<std::shared_ptr<ContextSlot>> ContextTable::remove_all() {
    MutexLock lock(mutex_);
    std::vector<std::shared_ptr<ContextSlot>> all;
    for (auto& [token, slot] : slots_) all.push_back(std::move(slot));
    slots_.clear();
    return all;
}

}  // namespace norvo::transport
