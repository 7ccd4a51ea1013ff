#include "context_table.hpp"

#include <sys/random.h>

#include <cerrno>

#include "norvo/fatal.hpp"

namespace norvo::transport {
namespace {

wire::ContextToken random_token() {
    wire::ContextToken token;
    std::size_t filled = 0;
    while (filled < token.bytes.size()) {
        const auto n = ::getrandom(token.bytes.data() + filled, token.bytes.size() - filled, 0);
        if (n > 0) {
            filled += static_cast<std::size_t>(n);
        } else if (errno != EINTR) {
            fatal("no random bytes for a context handle");
        }
    }
    return token;
}

}  // namespace

bool ContextSlot::enter() {
    std::lock_guard lock(mutex_);
    if (closing_)
        return false;
    ++leases_;
    return true;
}

void ContextSlot::leave() {
    std::lock_guard lock(mutex_);
    if (--leases_ == 0)
        idle_.notify_all();
}

void ContextSlot::close(bool client_gone) {
    {
        std::unique_lock lock(mutex_);
        if (closing_)
            return;
        closing_ = true;
        idle_.wait(lock, [&] { return leases_ == 0; });
    }
    if (client_gone) {
        service::PCONTEXT_HANDLE_TYPE_rundown(std::move(handle_));
    } else {
        service::RemoteClose(handle_);
    }
}

void Lease::release() {
    if (slot_)
        slot_->leave();
    slot_.reset();
}

bool ContextTable::has_room() const {
    std::lock_guard lock(mutex_);
    return slots_.size() < capacity_;
}

wire::ContextToken ContextTable::insert(service::ContextHandle handle) {
    auto slot = std::make_shared<ContextSlot>(std::move(handle));
    std::lock_guard lock(mutex_);
    for (;;) {
        auto token = random_token();
        if (!token.is_null() && slots_.try_emplace(token, slot).second)
            return token;
    }
}

std::expected<Lease, wire::RpcStatus> ContextTable::lease(const wire::ContextToken& token) {
    if (token.is_null())
        return std::unexpected(wire::status::null_context);
    std::shared_ptr<ContextSlot> slot;
    {
        std::lock_guard lock(mutex_);
        if (auto found = slots_.find(token); found != slots_.end())
            slot = found->second;
    }
    if (!slot || !slot->enter())
        return std::unexpected(wire::status::context_mismatch);
    return Lease(std::move(slot));
}

std::shared_ptr<ContextSlot> ContextTable::remove(const wire::ContextToken& token) {
    std::lock_guard lock(mutex_);
    auto found = slots_.find(token);
    if (found == slots_.end())
        return nullptr;
    auto slot = std::move(found->second);
    slots_.erase(found);
    return slot;
}

std::vector<std::shared_ptr<ContextSlot>> ContextTable::remove_all() {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<ContextSlot>> all;
    for (auto& [token, slot] : slots_) all.push_back(std::move(slot));
    slots_.clear();
    return all;
}

}  // namespace norvo::transport
