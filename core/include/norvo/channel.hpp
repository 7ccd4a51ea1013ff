#pragma once
// Multi-producer, single-consumer channels. Sends never block. The receiver can
// attach a Wakeup, notified on every send and when the last sender goes, so one
// consumer can wait on several channels and a deadline at once.

#include "norvo/clock.hpp"
#include "norvo/mutex.hpp"

#include <fmt/format.h>

#include <cstddef>
#include <deque>
#include <expected>
#include <memory>
#include <utility>

namespace norvo::channel {

enum class SendFailure { Full, Closed };
enum class RecvFailure { Empty, Closed };

// The value that could not be sent comes back to the sender.
template <class T>
struct TrySendError {
    SendFailure kind;
    T value;
};

namespace detail {

template <class T>
struct State {
    Mutex mutex;
    std::deque<T> queue GUARDED_BY(mutex);
    std::size_t capacity = 0;  // 0: unbounded; set before the channel is shared
    std::size_t senders GUARDED_BY(mutex) = 1;
    bool receiver_alive GUARDED_BY(mutex) = true;
    std::shared_ptr<Wakeup> wakeup GUARDED_BY(mutex);
};

}  // namespace detail

template <class T>
class Receiver;

template <class T>
class Sender {
  public:
    Sender(const Sender& other) : state_(other.state_) { add_ref(); }
    Sender(Sender&& other) noexcept = default;
    Sender& operator=(const Sender& other) {
        if (this != &other) {
            Sender copy(other);
            *this = std::move(copy);
        }
        return *this;
    }
    Sender& operator=(Sender&& other) noexcept {
        if (this != &other) {
            drop();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    ~Sender() { drop(); }

    [[nodiscard]] std::expected<void, TrySendError<T>> try_send(T value) const {
        std::shared_ptr<Wakeup> wakeup;
        {
            MutexLock lock(state_->mutex);
            if (!state_->receiver_alive) {
                return std::unexpected(TrySendError<T>{SendFailure::Closed, std::move(value)});
            }
            if (state_->capacity != 0 && state_->queue.size() >= state_->capacity) {
                return std::unexpected(TrySendError<T>{SendFailure::Full, std::move(value)});
            }
            state_->queue.push_back(std::move(value));
            wakeup = state_->wakeup;
        }
        if (wakeup)
            wakeup->notify();
        return {};
    }

  private:
    template <class U>
    friend std::pair<Sender<U>, Receiver<U>> make_channel(std::size_t capacity);

    explicit Sender(std::shared_ptr<detail::State<T>> state) : state_(std::move(state)) {}

    void add_ref() {
        MutexLock lock(state_->mutex);
        ++state_->senders;
    }

    void drop() {
        if (!state_)
            return;
        std::shared_ptr<Wakeup> wakeup;
        {
            MutexLock lock(state_->mutex);
            if (--state_->senders == 0)
                wakeup = state_->wakeup;
        }
        if (wakeup)
            wakeup->notify();
        state_.reset();
    }

    std::shared_ptr<detail::State<T>> state_;
};

template <class T>
class Receiver {
  public:
    Receiver(Receiver&&) noexcept = default;
    Receiver& operator=(Receiver&& other) noexcept {
        if (this != &other) {
            close();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() { close(); }

    // Closed only once every sender is gone and the queue is drained.
    [[nodiscard]] std::expected<T, RecvFailure> try_recv() {
        MutexLock lock(state_->mutex);
        if (state_->queue.empty()) {
            return std::unexpected(state_->senders == 0 ? RecvFailure::Closed : RecvFailure::Empty);
        }
        T value = std::move(state_->queue.front());
        state_->queue.pop_front();
        return value;
    }

    void set_wakeup(std::shared_ptr<Wakeup> wakeup) {
        MutexLock lock(state_->mutex);
        state_->wakeup = std::move(wakeup);
    }

  private:
    template <class U>
    friend std::pair<Sender<U>, Receiver<U>> make_channel(std::size_t capacity);

    explicit Receiver(std::shared_ptr<detail::State<T>> state) : state_(std::move(state)) {}

    // Queued values are destroyed outside the lock: their destructors may do anything.
    void close() {
        if (!state_)
            return;
        std::deque<T> dropped;
        {
            MutexLock lock(state_->mutex);
            state_->receiver_alive = false;
            state_->wakeup.reset();
            dropped.swap(state_->queue);
        }
        state_.reset();
    }

    std::shared_ptr<detail::State<T>> state_;
};

template <class T>
std::pair<Sender<T>, Receiver<T>> make_channel(std::size_t capacity) {
    auto state = std::make_shared<detail::State<T>>();
    state->capacity = capacity;
    return {Sender<T>(state), Receiver<T>(state)};
}

template <class T>
std::pair<Sender<T>, Receiver<T>> bounded(std::size_t capacity) {
    return make_channel<T>(capacity == 0 ? 1 : capacity);
}

template <class T>
std::pair<Sender<T>, Receiver<T>> unbounded() {
    return make_channel<T>(0);
}

}  // namespace norvo::channel

template <class T>
struct fmt::formatter<norvo::channel::TrySendError<T>> : fmt::formatter<std::string_view> {
    auto format(const norvo::channel::TrySendError<T>& e, format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(
            e.kind == norvo::channel::SendFailure::Full ? "Full(..)" : "Closed(..)", ctx);
    }
};
