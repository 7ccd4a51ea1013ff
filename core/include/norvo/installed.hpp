#pragma once
// A process-wide slot for what a host installs (the log sink, the standard output):
// it may be replaced at any time, and a caller keeps the one it took for as long as
// it uses it.

#include <memory>
#include <utility>

#include "norvo/mutex.hpp"

namespace norvo {

template <class T>
class Installed {
  public:
    std::shared_ptr<T> get() const {
        MutexLock lock(mutex_);
        return value_;
    }
    void set(std::shared_ptr<T> value) {
        MutexLock lock(mutex_);
        value_ = std::move(value);
    }

  private:
    mutable Mutex mutex_;
    std::shared_ptr<T> value_ GUARDED_BY(mutex_);
};

}  // namespace norvo
