#include "association.hpp"

#include "random_token.hpp"

namespace norvo::transport {

std::shared_ptr<Association> Associations::open(uid_t uid) {
    for (;;) {
        const auto key = random_token<wire::AssociationTag>();
        auto [found, added] =
            by_key_.try_emplace(key, std::make_shared<Association>(uid, key, contexts_each_));
        if (added) {
            found->second->connections_ = 1;
            return found->second;
        }
    }
}

std::shared_ptr<Association> Associations::join(const wire::AssociationKey& key, uid_t uid) {
    const auto found = by_key_.find(key);
    if (found == by_key_.end() || found->second->uid() != uid)
        return nullptr;
    ++found->second->connections_;
    return found->second;
}

bool Associations::leave(Association& association) {
    if (--association.connections_ > 0)
        return false;
    by_key_.erase(association.key());
    return true;
}

}  // namespace norvo::transport
