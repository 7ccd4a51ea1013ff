#pragma once
// The runtime runs calls naming one context handle concurrently, and the handle's value is
// the context's address: every call holds a lease on it, and a close (or the rundown)
// destroys the context only once no lease is left and refuses new ones from then on.

#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>

namespace norvo::windows::rpc {

class ContextLeases {
  public:
    void add(const void* context);
    // False for a context that is not held or is being closed.
    bool enter(const void* context);
    void leave(const void* context);
    // Blocks until the last lease is gone, then forgets the context. False when another
    // close got there first (or it was never held): the caller must not destroy it.
    bool close(const void* context);

  private:
    struct Entry {
        std::size_t leases = 0;
        bool closing = false;
    };

    std::mutex mutex_;
    std::condition_variable idle_;
    std::map<const void*, Entry> entries_;
};

// One call's lease; released at the latest when it goes.
class Lease {
  public:
    Lease(ContextLeases& leases, const void* context)
        : leases_(leases), context_(leases.enter(context) ? context : nullptr) {}
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    ~Lease() { release(); }

    explicit operator bool() const { return context_ != nullptr; }
    // Later calls do nothing.
    void release();

  private:
    ContextLeases& leases_;
    const void* context_;
};

}  // namespace norvo::windows::rpc
