#include "server_state.hpp"

namespace norvo::transport {

std::optional<CallLimit::Permit> CallLimit::try_enter() {
    if (running_.fetch_add(1) >= max_) {
        running_.fetch_sub(1);
        return std::nullopt;
    }
    return Permit(*this);
}

bool ConnectionRegistry::has_room(std::size_t limit) const {
    std::lock_guard lock(mutex_);
    return connections_.size() < limit;
}

void ConnectionRegistry::add(const std::shared_ptr<Connection>& connection) {
    std::lock_guard lock(mutex_);
    connections_.emplace(connection.get(), connection);
}

void ConnectionRegistry::remove(const Connection* connection) {
    std::shared_ptr<Connection> removed;  // released after the lock
    std::lock_guard lock(mutex_);
    if (auto found = connections_.find(connection); found != connections_.end()) {
        removed = std::move(found->second);
        connections_.erase(found);
    }
}

std::vector<std::shared_ptr<Connection>> ConnectionRegistry::all() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Connection>> out;
    for (const auto& [key, connection] : connections_) out.push_back(connection);
    return out;
}

}  // namespace norvo::transport
