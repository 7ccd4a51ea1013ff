#pragma once
// A bounded single-producer, single-consumer channel whose send waits for room.
// The control handler uses it so that the service control manager's next control
// waits until the run loop has taken the previous one.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <utility>

#include "norvo/mutex.hpp"

namespace norvo::host {

namespace detail {

template <class T>
struct BlockingState {
    Mutex mutex;
    std::condition_variable changed;
    std::deque<T> queue GUARDED_BY(mutex);
    std::size_t capacity = 1;  // set before the channel is shared
    bool sender_alive GUARDED_BY(mutex) = true;
    bool receiver_alive GUARDED_BY(mutex) = true;
};

}  // namespace detail

template <class T>
class BlockingSender {
  public:
    explicit BlockingSender(std::shared_ptr<detail::BlockingState<T>> state)
        : state_(std::move(state)) {}
    BlockingSender(BlockingSender&&) noexcept = default;
    BlockingSender& operator=(BlockingSender&&) = delete;
    ~BlockingSender() {
        if (!state_)
            return;
        {
            MutexLock lock(state_->mutex);
            state_->sender_alive = false;
        }
        state_->changed.notify_all();
    }

    // Waits while the channel is full. False, and the value dropped, when the receiver is gone.
    bool send(T value) {
        {
            MutexLock lock(state_->mutex);
            state_->changed.wait(lock.native(), [&]() REQUIRES(state_->mutex) {
                return !state_->receiver_alive || state_->queue.size() < state_->capacity;
            });
            if (!state_->receiver_alive)
                return false;
            state_->queue.push_back(std::move(value));
        }
        state_->changed.notify_all();
        return true;
    }

  private:
    std::shared_ptr<detail::BlockingState<T>> state_;
};

template <class T>
class BlockingReceiver {
  public:
    explicit BlockingReceiver(std::shared_ptr<detail::BlockingState<T>> state)
        : state_(std::move(state)) {}
    BlockingReceiver(BlockingReceiver&&) noexcept = default;
    BlockingReceiver& operator=(BlockingReceiver&&) = delete;
    ~BlockingReceiver() {
        if (!state_)
            return;
        std::deque<T> dropped;
        {
            MutexLock lock(state_->mutex);
            state_->receiver_alive = false;
            dropped.swap(state_->queue);
        }
        state_->changed.notify_all();
    }

    // Waits for the next value; nothing once the sender is gone and the queue drained.
    std::optional<T> recv() {
        std::optional<T> value;
        {
            MutexLock lock(state_->mutex);
            state_->changed.wait(lock.native(), [&]() REQUIRES(state_->mutex) {
                return !state_->queue.empty() || !state_->sender_alive;
            });
            if (state_->queue.empty())
                return std::nullopt;
            value.emplace(std::move(state_->queue.front()));
            state_->queue.pop_front();
        }
        state_->changed.notify_all();
        return value;
    }

  private:
    std::shared_ptr<detail::BlockingState<T>> state_;
};

template <class T>
std::pair<BlockingSender<T>, BlockingReceiver<T>> blocking_channel(std::size_t capacity) {
    auto state = std::make_shared<detail::BlockingState<T>>();
    state->capacity = capacity == 0 ? 1 : capacity;
    return {BlockingSender<T>(state), BlockingReceiver<T>(state)};
}

}  // namespace norvo::host
