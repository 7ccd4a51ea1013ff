// The COM shapes the library is compiled against, checked against the platform's values:
// on Windows this holds for the SDK's headers, so on Linux it keeps the stand-in equal to them.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fakes.hpp"
#include "norvo/sensorlib/com.hpp"

namespace norvo::testing {
namespace {

// The vtable slot of a virtual method: g++ stores it in a method pointer as 1 + byte offset.
template <class C, class F>
std::size_t slot(F C::* method) {
    struct Representation {
        std::uintptr_t ptr;
        std::ptrdiff_t adjustment;
    };
    static_assert(sizeof(method) == sizeof(Representation));
    Representation r;
    std::memcpy(&r, &method, sizeof r);
    EXPECT_EQ(r.ptr % 2, 1u) << "not a virtual method";
    return (r.ptr - 1) / sizeof(void*);
}

TEST(ComShapes, MethodsSitInThePlatformsVtableSlots) {
    struct Case {
        const char* name;
        std::size_t slot;
        std::size_t expected;
    };
    const Case cases[] = {
        {"IUnknown::Release", slot(&IUnknown::Release), 2},
        {"ISensorManager::GetSensorByID", slot(&ISensorManager::GetSensorByID), 5},
        {"ISensorManager::SetEventSink", slot(&ISensorManager::SetEventSink), 6},
        {"ISensor::GetProperty", slot(&ISensor::GetProperty), 7},
        {"ISensor::GetSupportedDataFields", slot(&ISensor::GetSupportedDataFields), 9},
        {"ISensor::GetState", slot(&ISensor::GetState), 12},
        {"ISensor::SetEventSink", slot(&ISensor::SetEventSink), 17},
        {"ISensorDataReport::GetSensorValue", slot(&ISensorDataReport::GetSensorValue), 4},
        {"IPortableDeviceKeyCollection::GetCount", slot(&IPortableDeviceKeyCollection::GetCount),
         3},
        {"IPortableDeviceKeyCollection::GetAt", slot(&IPortableDeviceKeyCollection::GetAt), 4},
        {"ISensorManagerEvents::OnSensorEnter", slot(&ISensorManagerEvents::OnSensorEnter), 3},
        {"ISensorEvents::OnStateChanged", slot(&ISensorEvents::OnStateChanged), 3},
        {"ISensorEvents::OnDataUpdated", slot(&ISensorEvents::OnDataUpdated), 4},
        {"ISensorEvents::OnEvent", slot(&ISensorEvents::OnEvent), 5},
        {"ISensorEvents::OnLeave", slot(&ISensorEvents::OnLeave), 6},
        {"IInspectable::GetTrustLevel", slot(&IInspectable::GetTrustLevel), 5},
    };
    for (const auto& c : cases) EXPECT_EQ(c.slot, c.expected) << c.name;
}

TEST(ComShapes, ClassAndInterfaceIdsAreThePlatforms) {
    struct Case {
        const char* name;
        const GUID& id;
        Guid expected;
    };
    const Case cases[] = {
        {"CLSID_SensorManager",
         CLSID_SensorManager,
         {0x77A1C827, 0xFCD2, 0x4689, {0x89, 0x15, 0x9D, 0x61, 0x3C, 0xC5, 0xFA, 0x3E}}},
        {"IID_ISensorManager",
         IID_ISensorManager,
         {0xBD77DB67, 0x45A8, 0x42DC, {0x8D, 0x00, 0x6D, 0xCF, 0x15, 0xF8, 0x37, 0x7A}}},
        {"IID_ISensor",
         IID_ISensor,
         {0x5FA08F80, 0x2657, 0x458E, {0xAF, 0x75, 0x46, 0xF7, 0x3F, 0xA6, 0xAC, 0x5C}}},
        {"IID_ISensorDataReport",
         IID_ISensorDataReport,
         {0x0AB9DF9B, 0xC4B5, 0x4796, {0x88, 0x98, 0x04, 0x70, 0x70, 0x6A, 0x2E, 0x1D}}},
        {"IID_ISensorManagerEvents",
         IID_ISensorManagerEvents,
         {0x9B3B0B86, 0x266A, 0x4AAD, {0xB2, 0x1F, 0xFD, 0xE5, 0x50, 0x10, 0x01, 0xB7}}},
        {"IID_ISensorEvents",
         IID_ISensorEvents,
         {0x5D8DCC91, 0x4641, 0x47E7, {0xB7, 0xC3, 0xB7, 0x4F, 0x48, 0xA6, 0xC3, 0x91}}},
        {"IID_IPortableDeviceKeyCollection",
         IID_IPortableDeviceKeyCollection,
         {0xDADA2357, 0xE0AD, 0x492E, {0x98, 0xDB, 0xDD, 0x61, 0xC5, 0x3B, 0xA3, 0x53}}},
        {"IID_IAgileObject",
         IID_IAgileObject,
         {0x94EA2B94, 0xE9CC, 0x49E0, {0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90}}},
        {"IID_IUnknown",
         IID_IUnknown,
         {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}}},
    };
    for (const auto& c : cases) EXPECT_TRUE(IsEqualGUID(c.id, platform_guid(c.expected))) << c.name;
}

TEST(ComShapes, CodesAndConstantsAreThePlatforms) {
    struct Case {
        const char* name;
        std::int64_t value;
        std::int64_t expected;
    };
    const auto hr = [](HRESULT h) { return std::int64_t{static_cast<std::uint32_t>(h)}; };
    const Case cases[] = {
        {"S_FALSE", hr(S_FALSE), 1},
        {"E_NOTIMPL", hr(E_NOTIMPL), 0x80004001},
        {"E_NOINTERFACE", hr(E_NOINTERFACE), 0x80004002},
        {"E_POINTER", hr(E_POINTER), 0x80004003},
        {"E_ABORT", hr(E_ABORT), 0x80004004},
        {"E_FAIL", hr(E_FAIL), 0x80004005},
        {"E_UNEXPECTED", hr(E_UNEXPECTED), 0x8000FFFF},
        {"E_ACCESSDENIED", hr(E_ACCESSDENIED), 0x80070005},
        {"E_OUTOFMEMORY", hr(E_OUTOFMEMORY), 0x8007000E},
        {"E_INVALIDARG", hr(E_INVALIDARG), 0x80070057},
        {"RPC_E_CHANGED_MODE", hr(RPC_E_CHANGED_MODE), 0x80010106},
        {"CLASS_E_NOAGGREGATION", hr(CLASS_E_NOAGGREGATION), 0x80040110},
        {"REGDB_E_CLASSNOTREG", hr(REGDB_E_CLASSNOTREG), 0x80040154},
        {"CO_E_NOTINITIALIZED", hr(CO_E_NOTINITIALIZED), 0x800401F0},
        {"not found", hr(HRESULT_FROM_WIN32(ERROR_NOT_FOUND)), 0x80070490},
        {"not connected", hr(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)), 0x8007048F},
        {"COINIT_MULTITHREADED", COINIT_MULTITHREADED, 0},
        {"COINIT_APARTMENTTHREADED", COINIT_APARTMENTTHREADED, 2},
        {"CLSCTX_INPROC_SERVER", CLSCTX_INPROC_SERVER, 1},
        {"SENSOR_STATE_READY", SENSOR_STATE_READY, 0},
        {"SENSOR_STATE_NO_DATA", SENSOR_STATE_NO_DATA, 2},
        {"SENSOR_STATE_ERROR", SENSOR_STATE_ERROR, 5},
        {"VT_UI4", VT_UI4, 19},
        {"VT_LPWSTR", VT_LPWSTR, 31},
        {"VT_FILETIME", VT_FILETIME, 64},
        {"VT_CLSID", VT_CLSID, 72},
        {"sizeof(PROPVARIANT)", sizeof(PROPVARIANT), 24},
        {"offsetof(PROPVARIANT, uhVal)", offsetof(PROPVARIANT, uhVal), 8},
        {"sizeof(PROPERTYKEY)", sizeof(PROPERTYKEY), 20},
        {"sizeof(WCHAR)", sizeof(WCHAR), 2},
    };
    for (const auto& c : cases) EXPECT_EQ(c.value, c.expected) << c.name;
}

}  // namespace
}  // namespace norvo::testing
