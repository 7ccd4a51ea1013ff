#pragma once
// A process-wide slot for what a host installs (the log sink, the standard output):
// it may be replaced at any time, and a caller keeps the one it took for as long as
// it uses it.

#include <memory>
#include <mutex>
#include <utility>

namespace norvo {

template <class T>
class Installed {
  public:
    std::shared_ptr<T> get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void set(std::shared_ptr<T> value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<T> value_;
};

}  // namespace norvo
