#pragma once
// What one client holds in the service: its contexts, shared by every
// connection it opens. A client gives each of its calling threads a connection
// of its own, so every answer reaches the thread that waits for it without
// passing through another; a context opened on one of them serves on all.
// The contexts are run down when the last connection ends.

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "context_table.hpp"
#include "norvo/service/user_quota.hpp"
#include "norvo/wire/codec.hpp"

namespace norvo::transport {

// A Linux user's account in the per-user quotas: its uid.
inline service::AccountKey account_of(uid_t uid) {
    return std::to_string(uid);
}

class Association {
  public:
    Association(uid_t uid, wire::AssociationKey key, std::size_t contexts)
        : uid_(uid), account_(account_of(uid)), key_(key), contexts_(contexts) {}

    uid_t uid() const { return uid_; }
    const service::AccountKey& account() const { return account_; }
    const wire::AssociationKey& key() const { return key_; }
    ContextTable& contexts() { return contexts_; }

  private:
    friend class Associations;

    const uid_t uid_;
    const service::AccountKey account_;
    const wire::AssociationKey key_;
    ContextTable contexts_;
    std::size_t connections_ = 0;  // the reactor thread's alone
};

// Every live association by its key. The reactor thread's alone.
class Associations {
  public:
    explicit Associations(std::size_t contexts_each) : contexts_each_(contexts_each) {}

    // A new association with one connection.
    std::shared_ptr<Association> open(uid_t uid);
    // One more connection of the association `key` names; none unless it lives
    // and belongs to `uid`.
    std::shared_ptr<Association> join(const wire::AssociationKey& key, uid_t uid);
    // One connection fewer; true when that was the last, and its contexts are
    // then to be run down.
    bool leave(Association& association);

  private:
    const std::size_t contexts_each_;
    std::map<wire::AssociationKey, std::shared_ptr<Association>> by_key_;
};

}  // namespace norvo::transport
