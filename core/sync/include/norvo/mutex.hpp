#pragma once
// std::mutex and its scoped lock, annotated so that clang checks every GUARDED_BY member
// is touched only with its mutex held.

#include <mutex>

#include "norvo/thread_annotations.hpp"

namespace norvo {

class CAPABILITY("mutex") Mutex {
  public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

  private:
    friend class MutexLock;
    std::mutex mutex_;
};

// Holds a Mutex for its scope, or until unlock(). A condition variable waits on native():
// it gives the mutex back while it sleeps and holds it again when it returns, so to the
// checker the mutex stays held across the wait.
class SCOPED_CAPABILITY MutexLock {
  public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
    ~MutexLock() RELEASE() = default;
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void lock() ACQUIRE() { lock_.lock(); }
    void unlock() RELEASE() { lock_.unlock(); }
    std::unique_lock<std::mutex>& native() { return lock_; }

  private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace norvo
