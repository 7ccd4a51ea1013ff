#pragma once
// The COM shapes of the Sensor API as the Windows SDK declares them (method order,
// signatures, GUIDs, error codes), for Linux. Code written against these compiles
// unchanged against sensorsapi.h, portabledevicetypes.h and propidl.h on Windows.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>

#define STDMETHODCALLTYPE
#define WINAPI

using HRESULT = std::int32_t;
using SCODE = std::int32_t;
using BYTE = std::uint8_t;
using CHAR = char;
using UCHAR = unsigned char;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using WORD = std::uint16_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using FLOAT = float;
using DOUBLE = double;
using WINBOOL = int;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using BSTR = WCHAR*;
using LPVOID = void*;
using LPCVOID = const void*;
using HWND = struct HWND__*;
using HSTRING = struct HSTRING__*;

// ---- HRESULT values ----------------------------------------------------------

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define HRESULT_FROM_WIN32(x)      \
    (static_cast<HRESULT>(x) <= 0  \
         ? static_cast<HRESULT>(x) \
         : static_cast<HRESULT>(((x) & 0x0000FFFF) | (7 << 16) | 0x80000000))

#define S_OK (static_cast<HRESULT>(0x00000000))
#define S_FALSE (static_cast<HRESULT>(0x00000001))
#define E_NOTIMPL (static_cast<HRESULT>(0x80004001))
#define E_NOINTERFACE (static_cast<HRESULT>(0x80004002))
#define E_POINTER (static_cast<HRESULT>(0x80004003))
#define E_ABORT (static_cast<HRESULT>(0x80004004))
#define E_FAIL (static_cast<HRESULT>(0x80004005))
#define E_UNEXPECTED (static_cast<HRESULT>(0x8000FFFF))
#define E_ACCESSDENIED (static_cast<HRESULT>(0x80070005))
#define E_OUTOFMEMORY (static_cast<HRESULT>(0x8007000E))
#define E_INVALIDARG (static_cast<HRESULT>(0x80070057))
#define RPC_E_CHANGED_MODE (static_cast<HRESULT>(0x80010106))
#define CLASS_E_NOAGGREGATION (static_cast<HRESULT>(0x80040110))
#define REGDB_E_CLASSNOTREG (static_cast<HRESULT>(0x80040154))
#define CO_E_NOTINITIALIZED (static_cast<HRESULT>(0x800401F0))

#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_NOT_FOUND 1168L

// ---- GUIDs and keys ---------------------------------------------------------------

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
    return IsEqualGUID(a, b);
}

struct PROPERTYKEY {
    GUID fmtid;
    DWORD pid;
};
using REFPROPERTYKEY = const PROPERTYKEY&;

// ---- PROPVARIANT (the subset of the value union the Sensor API uses) ----------

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_LPWSTR = 31,
    VT_FILETIME = 64,
    VT_CLSID = 72,
};

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    std::int64_t QuadPart;
};

union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    std::uint64_t QuadPart;
};

struct BLOB {
    ULONG cbSize;
    BYTE* pBlobData;
};

struct PROPVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        CHAR cVal;
        UCHAR bVal;
        SHORT iVal;
        USHORT uiVal;
        LONG lVal;
        ULONG ulVal;
        INT intVal;
        UINT uintVal;
        LARGE_INTEGER hVal;
        ULARGE_INTEGER uhVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        FILETIME filetime;
        CLSID* puuid;
        BSTR bstrVal;
        BLOB blob;
        LPWSTR pwszVal;
    };
};
static_assert(sizeof(void*) != 8 || sizeof(PROPVARIANT) == 24, "PROPVARIANT keeps the SDK's size");

inline void PropVariantInit(PROPVARIANT* pvar) {
    std::memset(pvar, 0, sizeof(PROPVARIANT));
}

// ---- COM basics -------------------------------------------------------------------

enum COINIT : DWORD { COINIT_MULTITHREADED = 0x0, COINIT_APARTMENTTHREADED = 0x2 };
enum CLSCTX : DWORD { CLSCTX_INPROC_SERVER = 0x1 };
enum TrustLevel { BaseTrust = 0, PartialTrust = 1, FullTrust = 2 };

inline constexpr IID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IInspectable{
    0xAF86E2E0, 0xB12D, 0x4C6A, {0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90}};
inline constexpr IID IID_IAgileObject{
    0x94EA2B94, 0xE9CC, 0x49E0, {0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90}};

struct IUnknown {
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                                                   void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IInspectable : public IUnknown {
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetIids(ULONG* iidCount, IID** iids) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* className) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* trustLevel) = 0;
};

// A marker: its holder may be called from any thread without marshalling.
struct IAgileObject : public IUnknown {};

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000

extern "C" {
[[nodiscard]] HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void WINAPI CoUninitialize();
[[nodiscard]] HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter,
                                              DWORD dwClsContext, REFIID riid, LPVOID* ppv);
LPVOID WINAPI CoTaskMemAlloc(std::size_t cb);
void WINAPI CoTaskMemFree(LPVOID pv);
[[nodiscard]] HRESULT WINAPI PropVariantClear(PROPVARIANT* pvar);
DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, va_list* Arguments);
}

// ---- Portable device types ----------------------------------------------------------

struct IPortableDeviceValues;  // passed through, never called here

inline constexpr IID IID_IPortableDeviceKeyCollection{
    0xDADA2357, 0xE0AD, 0x492E, {0x98, 0xDB, 0xDD, 0x61, 0xC5, 0x3B, 0xA3, 0x53}};

struct IPortableDeviceKeyCollection : public IUnknown {
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetCount(DWORD* pcElems) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetAt(const DWORD dwIndex,
                                                          PROPERTYKEY* pKey) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY Key) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD dwIndex) = 0;
};

// ---- Sensor API -----------------------------------------------------------------------

enum SensorState : int {
    SENSOR_STATE_MIN = 0,
    SENSOR_STATE_READY = SENSOR_STATE_MIN,
    SENSOR_STATE_NOT_AVAILABLE = SENSOR_STATE_READY + 1,
    SENSOR_STATE_NO_DATA = SENSOR_STATE_NOT_AVAILABLE + 1,
    SENSOR_STATE_INITIALIZING = SENSOR_STATE_NO_DATA + 1,
    SENSOR_STATE_ACCESS_DENIED = SENSOR_STATE_INITIALIZING + 1,
    SENSOR_STATE_ERROR = SENSOR_STATE_ACCESS_DENIED + 1,
    SENSOR_STATE_MAX = SENSOR_STATE_ERROR
};

using SENSOR_CATEGORY_ID = GUID;
using REFSENSOR_CATEGORY_ID = REFGUID;
using SENSOR_TYPE_ID = GUID;
using REFSENSOR_TYPE_ID = REFGUID;
using SENSOR_ID = GUID;
using REFSENSOR_ID = REFGUID;

inline constexpr CLSID CLSID_SensorManager{
    0x77A1C827, 0xFCD2, 0x4689, {0x89, 0x15, 0x9D, 0x61, 0x3C, 0xC5, 0xFA, 0x3E}};
inline constexpr IID IID_ISensorManager{
    0xBD77DB67, 0x45A8, 0x42DC, {0x8D, 0x00, 0x6D, 0xCF, 0x15, 0xF8, 0x37, 0x7A}};
inline constexpr IID IID_ISensorCollection{
    0x23571E11, 0xE545, 0x4DD8, {0xA3, 0x37, 0xB8, 0x9B, 0xF4, 0x4B, 0x10, 0xDF}};
inline constexpr IID IID_ISensor{
    0x5FA08F80, 0x2657, 0x458E, {0xAF, 0x75, 0x46, 0xF7, 0x3F, 0xA6, 0xAC, 0x5C}};
inline constexpr IID IID_ISensorDataReport{
    0x0AB9DF9B, 0xC4B5, 0x4796, {0x88, 0x98, 0x04, 0x70, 0x70, 0x6A, 0x2E, 0x1D}};
inline constexpr IID IID_ISensorManagerEvents{
    0x9B3B0B86, 0x266A, 0x4AAD, {0xB2, 0x1F, 0xFD, 0xE5, 0x50, 0x10, 0x01, 0xB7}};
inline constexpr IID IID_ISensorEvents{
    0x5D8DCC91, 0x4641, 0x47E7, {0xB7, 0xC3, 0xB7, 0x4F, 0x48, 0xA6, 0xC3, 0x91}};

struct ISensor;
struct ISensorCollection;  // passed through, never called here
struct ISensorDataReport;
struct ISensorEvents;
struct ISensorManagerEvents;

struct ISensorManager : public IUnknown {
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetSensorsByCategory(
        REFSENSOR_CATEGORY_ID sensorCategory, ISensorCollection** ppSensorsFound) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE
    GetSensorsByType(REFSENSOR_TYPE_ID sensorType, ISensorCollection** ppSensorsFound) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetSensorByID(REFSENSOR_ID sensorID,
                                                                  ISensor** ppSensor) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE SetEventSink(ISensorManagerEvents* pEvents) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE RequestPermissions(HWND hParent,
                                                                       ISensorCollection* pSensors,
                                                                       WINBOOL fModal) = 0;
};

struct ISensor : public IUnknown {
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetID(SENSOR_ID* pID) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE
    GetCategory(SENSOR_CATEGORY_ID* pSensorCategory) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetType(SENSOR_TYPE_ID* pSensorType) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetFriendlyName(BSTR* pFriendlyName) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetProperty(REFPROPERTYKEY key,
                                                                PROPVARIANT* pProperty) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE
    GetProperties(IPortableDeviceKeyCollection* pKeys, IPortableDeviceValues** ppProperties) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE
    GetSupportedDataFields(IPortableDeviceKeyCollection** ppDataFields) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE
    SetProperties(IPortableDeviceValues* pProperties, IPortableDeviceValues** ppResults) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE
    SupportsDataField(REFPROPERTYKEY key, VARIANT_BOOL* pIsSupported) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetState(SensorState* pState) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetData(ISensorDataReport** ppDataReport) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE SupportsEvent(REFGUID eventGuid,
                                                                  VARIANT_BOOL* pIsSupported) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetEventInterest(GUID** ppValues,
                                                                     ULONG* pCount) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE SetEventInterest(GUID* pValues,
                                                                     ULONG count) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE SetEventSink(ISensorEvents* pEvents) = 0;
};

struct ISensorDataReport : public IUnknown {
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetTimestamp(SYSTEMTIME* pTimeStamp) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE GetSensorValue(REFPROPERTYKEY pKey,
                                                                   PROPVARIANT* pValue) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE
    GetSensorValues(IPortableDeviceKeyCollection* pKeys, IPortableDeviceValues** ppValues) = 0;
};

struct ISensorManagerEvents : public IUnknown {
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE OnSensorEnter(ISensor* pSensor,
                                                                  SensorState state) = 0;
};

struct ISensorEvents : public IUnknown {
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE OnStateChanged(ISensor* pSensor,
                                                                   SensorState state) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE OnDataUpdated(ISensor* pSensor,
                                                                  ISensorDataReport* pNewData) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE OnEvent(ISensor* pSensor, REFGUID eventID,
                                                            IPortableDeviceValues* pEventData) = 0;
    [[nodiscard]] virtual HRESULT STDMETHODCALLTYPE OnLeave(REFSENSOR_ID ID) = 0;
};
