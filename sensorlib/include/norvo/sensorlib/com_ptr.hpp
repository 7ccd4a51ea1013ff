#pragma once
// The one owner of one counted reference to a COM object. It cannot be copied:
// a second owner takes a reference of its own with share().

#include <cstddef>
#include <utility>

namespace norvo::sensorlib {

template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(ptr_, std::exchange(other.ptr_, nullptr));
            if (old)
                old->Release();
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    // Takes over a reference already counted for the caller (an out parameter, a new object).
    static ComPtr adopt(T* ptr) {
        ComPtr owner;
        owner.ptr_ = ptr;
        return owner;
    }
    // Counts a reference of its own.
    static ComPtr share(T* ptr) {
        if (ptr)
            ptr->AddRef();
        return adopt(ptr);
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    T& operator*() const { return *ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // For an out parameter: drops what it held and lets the callee fill it.
    T** put() {
        reset();
        return &ptr_;
    }
    void reset() {
        if (T* old = std::exchange(ptr_, nullptr))
            old->Release();
    }
    // Hands the reference to the caller, e.g. as a QueryInterface result.
    T* detach() { return std::exchange(ptr_, nullptr); }

  private:
    T* ptr_ = nullptr;
};

}  // namespace norvo::sensorlib
