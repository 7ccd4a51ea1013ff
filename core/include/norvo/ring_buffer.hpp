#pragma once
// A growable first-in first-out queue: constant-time push at the back and pop at
// the front; the storage doubles when full and is never shrunk.

#include <concepts>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace norvo {

template <class T>
    requires std::default_initializable<T> && std::movable<T>
class RingBuffer {
  public:
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return slots_.size(); }

    // Null when empty.
    const T* front() const { return empty() ? nullptr : &slots_[head_]; }

    void push_back(T value) {
        if (size_ == slots_.size())
            grow();
        slots_[(head_ + size_) % slots_.size()] = std::move(value);
        ++size_;
    }

    std::optional<T> pop_front() {
        if (empty())
            return std::nullopt;
        std::optional<T> value{std::move(slots_[head_])};
        slots_[head_] = T{};  // release what the slot still holds
        head_ = (head_ + 1) % slots_.size();
        --size_;
        return value;
    }

  private:
    static constexpr std::size_t kInitialCapacity = 4;

    // Unwraps the entries into the front of the larger storage, keeping their order.
    void grow() {
        std::vector<T> larger(slots_.empty() ? kInitialCapacity : slots_.size() * 2);
        for (std::size_t i = 0; i < size_; ++i) {
            larger[i] = std::move(slots_[(head_ + i) % slots_.size()]);
        }
        slots_ = std::move(larger);
        head_ = 0;
    }

    std::vector<T> slots_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

}  // namespace norvo
