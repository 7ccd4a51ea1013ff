#pragma once
// Conversions between the platform's values and the library's plain types.

#include <cstddef>
#include <optional>
#include <string>

#include "norvo/guid.hpp"
#include "norvo/sensorlib/com.hpp"
#include "norvo/sensors/types.hpp"

namespace norvo::sensorlib {

inline Guid to_guid(const GUID& g) {
    Guid out{static_cast<std::uint32_t>(g.Data1), g.Data2, g.Data3, {}};
    for (std::size_t i = 0; i < out.data4.size(); ++i) out.data4[i] = g.Data4[i];
    return out;
}

inline GUID to_platform(const Guid& g) {
    GUID out{};
    out.Data1 = g.data1;
    out.Data2 = g.data2;
    out.Data3 = g.data3;
    for (std::size_t i = 0; i < g.data4.size(); ++i) out.Data4[i] = g.data4[i];
    return out;
}

inline sensors::PropertyKey to_key(const PROPERTYKEY& k) {
    return {to_guid(k.fmtid), static_cast<std::uint32_t>(k.pid)};
}

inline PROPERTYKEY to_platform(const sensors::PropertyKey& k) {
    PROPERTYKEY out{};
    out.fmtid = to_platform(k.fmtid);
    out.pid = k.pid;
    return out;
}

// A PROPVARIANT that is cleared when it goes, whatever a callee put in it.
struct ScopedPropVariant {
    ScopedPropVariant() { PropVariantInit(&value); }
    // Fails only for a type no callee here produces, and a destructor has nowhere to report it.
    ~ScopedPropVariant() { (void)PropVariantClear(&value); }
    ScopedPropVariant(const ScopedPropVariant&) = delete;
    ScopedPropVariant& operator=(const ScopedPropVariant&) = delete;
    PROPVARIANT value;
};

// Strict: an unpaired surrogate makes the whole text invalid.
std::optional<std::string> utf16_to_utf8(const WCHAR* text, std::size_t length);
// A zero-terminated text; null is invalid.
std::optional<std::string> utf16_to_utf8(const WCHAR* text);

}  // namespace norvo::sensorlib
