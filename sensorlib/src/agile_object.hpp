#pragma once
// The COM identity of the library's event sinks: free-threaded (IAgileObject), so
// the platform calls them on its own threads without marshalling, with ComObject's
// atomic reference count. Interface is the sink's own event interface, Iid its ID.

#include "norvo/sensorlib/com_object.hpp"

namespace norvo::sensorlib {

template <class Interface, const IID& Iid>
class AgileObject : public ComObject<Interface, Iid>, public IInspectable {
    using Counted = ComObject<Interface, Iid>;

  public:
    [[nodiscard]] HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IAgileObject) ||
            IsEqualIID(riid, Iid)) {
            *out = static_cast<Interface*>(this);
        } else if (IsEqualIID(riid, kIidInspectable)) {
            *out = static_cast<IInspectable*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    // One count for both bases.
    ULONG STDMETHODCALLTYPE AddRef() override { return Counted::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Counted::Release(); }

    // No runtime class: no WinRT interfaces, an empty class name, base trust.
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) override {
        if (!count || !iids)
            return E_POINTER;
        *count = 0;
        *iids = nullptr;
        return S_OK;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) override {
        if (!name)
            return E_POINTER;
        *name = nullptr;
        return S_OK;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) override {
        if (!level)
            return E_POINTER;
        *level = BaseTrust;
        return S_OK;
    }

  protected:
    AgileObject() = default;
    ~AgileObject() override = default;
};

}  // namespace norvo::sensorlib
