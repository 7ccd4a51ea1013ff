// The COM runtime calls of the stand-in: per-thread apartments, task memory,
// PROPVARIANT clearing, system messages, and the one class it serves.

#include <cstdlib>
#include <string_view>

#include "device_hub.hpp"
#include "norvo/linux/sensorapi.h"

namespace {

// What CoInitializeEx made of this thread; 0 joins while uninitialised.
struct Apartment {
    int joins = 0;
    DWORD model = COINIT_MULTITHREADED;
};
thread_local Apartment t_apartment;

struct SystemMessage {
    HRESULT code;
    std::u16string_view text;
};

// The platform's texts, line break included, for the codes the stand-in produces.
constexpr SystemMessage kMessages[] = {
    {E_NOTIMPL, u"Not implemented\r\n"},
    {E_NOINTERFACE, u"No such interface supported\r\n"},
    {E_POINTER, u"Invalid pointer\r\n"},
    {E_ABORT, u"Operation aborted\r\n"},
    {E_FAIL, u"Unspecified error\r\n"},
    {E_UNEXPECTED, u"Catastrophic failure\r\n"},
    {E_ACCESSDENIED, u"Access is denied.\r\n"},
    {E_OUTOFMEMORY, u"Not enough memory resources are available to complete this operation.\r\n"},
    {E_INVALIDARG, u"The parameter is incorrect.\r\n"},
    {RPC_E_CHANGED_MODE, u"Cannot change thread mode after it is set.\r\n"},
    {CLASS_E_NOAGGREGATION, u"Class does not support aggregation (or class object is remote)\r\n"},
    {REGDB_E_CLASSNOTREG, u"Class not registered\r\n"},
    {CO_E_NOTINITIALIZED, u"CoInitialize has not been called.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), u"The device is not connected.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_NOT_FOUND), u"Element not found.\r\n"},
};

}  // namespace

extern "C" {

HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
    const DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    if (t_apartment.joins > 0) {
        if (t_apartment.model != model)
            return RPC_E_CHANGED_MODE;
        ++t_apartment.joins;
        return S_FALSE;
    }
    t_apartment = Apartment{1, model};
    return S_OK;
}

void CoUninitialize() {
    if (t_apartment.joins > 0)
        --t_apartment.joins;
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (t_apartment.joins == 0)
        return CO_E_NOTINITIALIZED;
    if (!IsEqualGUID(rclsid, CLSID_SensorManager) || !(dwClsContext & CLSCTX_INPROC_SERVER)) {
        return REGDB_E_CLASSNOTREG;
    }
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    return norvo::linux_platform::make_sensor_manager()->QueryInterface(riid, ppv);
}

LPVOID CoTaskMemAlloc(std::size_t cb) {
    return std::malloc(cb == 0 ? 1 : cb);
}

void CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

// Frees what the stand-in's own values own: strings and GUIDs.
HRESULT PropVariantClear(PROPVARIANT* pvar) {
    if (!pvar)
        return S_OK;
    if (pvar->vt == VT_LPWSTR)
        CoTaskMemFree(pvar->pwszVal);
    if (pvar->vt == VT_CLSID)
        CoTaskMemFree(pvar->puuid);
    PropVariantInit(pvar);
    return S_OK;
}

// FORMAT_MESSAGE_FROM_SYSTEM into the caller's buffer; 0 when there is no message.
DWORD FormatMessageW(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPWSTR lpBuffer, DWORD nSize,
                     va_list*) {
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || !lpBuffer)
        return 0;
    for (const auto& m : kMessages) {
        if (static_cast<DWORD>(m.code) != dwMessageId)
            continue;
        if (m.text.size() + 1 > nSize)
            return 0;
        m.text.copy(lpBuffer, m.text.size());
        lpBuffer[m.text.size()] = 0;
        return static_cast<DWORD>(m.text.size());
    }
    return 0;
}

}  // extern "C"
