#pragma once
// A value behind its own mutex. The lock is held only for one read or write,
// never across a callback, a channel operation or another lock.

#include <memory>
#include <utility>

#include "norvo/mutex.hpp"

namespace norvo {

template <class T>
class Cell {
  public:
    Cell() = default;
    explicit Cell(T value) : value_(std::move(value)) {}
    Cell(const Cell&) = delete;
    Cell& operator=(const Cell&) = delete;

    T get() const {
        MutexLock lock(mutex_);
        return value_;
    }

    // The old value is destroyed after the lock is released.
    void set(T value) { exchange(std::move(value)); }

    T exchange(T value) {
        {
            MutexLock lock(mutex_);
            std::swap(value_, value);
        }
        return value;
    }

    // `f` runs under the lock: it must only read or write the value.
    template <class F>
    decltype(auto) with(F&& f) {
        MutexLock lock(mutex_);
        return std::forward<F>(f)(value_);
    }
    template <class F>
    decltype(auto) with(F&& f) const {
        MutexLock lock(mutex_);
        return std::forward<F>(f)(value_);
    }

  private:
    mutable Mutex mutex_;
    T value_ GUARDED_BY(mutex_){};
};

// Reference-counted and shared between a client context and its sensor loop.
template <class T>
using SharedCell = std::shared_ptr<Cell<T>>;

template <class T>
SharedCell<T> make_shared_cell(T value = T{}) {
    return std::make_shared<Cell<T>>(std::move(value));
}

}  // namespace norvo
