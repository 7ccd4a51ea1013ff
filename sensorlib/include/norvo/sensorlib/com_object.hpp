#pragma once
// A plain COM object with one interface and an atomic reference count, for the
// Linux stand-in's own objects and for test fakes on every platform.

#include <atomic>

#include "norvo/sensorlib/com.hpp"

namespace norvo::sensorlib {

template <class Interface, const IID& Iid>
class ComObject : public Interface {
  public:
    [[nodiscard]] HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, Iid)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        *out = static_cast<Interface*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            delete this;
        return left;
    }

  protected:
    ComObject() = default;
    virtual ~ComObject() = default;

  private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace norvo::sensorlib
