#pragma once
// Fake Sensor API objects for the library's tests: every failure a test needs can be
// switched on, and every fake counts itself, so a test sees each reference released.

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "norvo/channel.hpp"
#include "norvo/sensorlib/com_object.hpp"
#include "norvo/sensorlib/com_ptr.hpp"
#include "norvo/sensors/tap_sensor.hpp"
#include "norvo/sensors/types.hpp"

namespace norvo::testing {

using sensorlib::ComPtr;

// Fakes alive right now.
std::atomic<int>& live_fakes();

template <class Interface, const IID& Iid>
class Fake : public sensorlib::ComObject<Interface, Iid> {
  protected:
    Fake() { ++live_fakes(); }
    ~Fake() override { --live_fakes(); }
};

GUID platform_guid(const Guid& g);
// A platform error's debug form, with the running system's message for the code (the
// stand-in's are Windows' own; Wine's differ).
std::string error_text(HRESULT code);
PROPERTYKEY field_key(DWORD pid);
inline const GUID kTapId = platform_guid(sensors::tap_sensor::kSensorId);

// Settings are made before the object is handed to the library, and not changed after.
class FakeKeys final : public Fake<IPortableDeviceKeyCollection, IID_IPortableDeviceKeyCollection> {
  public:
    explicit FakeKeys(std::vector<PROPERTYKEY> keys) : keys(std::move(keys)) {}
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* key) override;
    [[nodiscard]] HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY) override { return E_NOTIMPL; }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE Clear() override { return E_NOTIMPL; }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD) override { return E_NOTIMPL; }

    std::vector<PROPERTYKEY> keys;
    HRESULT count_hr = S_OK;
    std::optional<DWORD> failing_index;
};

struct FakeValue {
    VARTYPE vt = VT_UI4;
    std::array<std::uint8_t, 8> bytes{};
    HRESULT hr = S_OK;
};

class FakeReport final : public Fake<ISensorDataReport, IID_ISensorDataReport> {
  public:
    // Value i answers for field_key(i + 2).
    explicit FakeReport(std::vector<FakeValue> values) : values(std::move(values)) {}
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetTimestamp(SYSTEMTIME*) override { return E_NOTIMPL; }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetSensorValue(REFPROPERTYKEY key,
                                                           PROPVARIANT* value) override;
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetSensorValues(IPortableDeviceKeyCollection*,
                                                            IPortableDeviceValues**) override {
        return E_NOTIMPL;
    }

    std::vector<FakeValue> values;
    std::atomic<int> reads{0};
};

// A property the sensor answers GetProperty with (the common set, by pid).
struct FakeProperty {
    HRESULT hr = S_OK;
    VARTYPE vt = VT_LPWSTR;
    std::u16string text;
    GUID guid{};
};

class FakeSensor final : public Fake<ISensor, IID_ISensor> {
  public:
    FakeSensor();

    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetID(SENSOR_ID*) override { return E_NOTIMPL; }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetCategory(SENSOR_CATEGORY_ID*) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetType(SENSOR_TYPE_ID*) override { return E_NOTIMPL; }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetFriendlyName(BSTR*) override { return E_NOTIMPL; }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetProperty(REFPROPERTYKEY key,
                                                        PROPVARIANT* value) override;
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetProperties(IPortableDeviceKeyCollection*,
                                                          IPortableDeviceValues**) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE
    GetSupportedDataFields(IPortableDeviceKeyCollection** fields) override;
    [[nodiscard]] HRESULT STDMETHODCALLTYPE SetProperties(IPortableDeviceValues*,
                                                          IPortableDeviceValues**) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE SupportsDataField(REFPROPERTYKEY,
                                                              VARIANT_BOOL*) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetState(SensorState* state) override;
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetData(ISensorDataReport**) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE SupportsEvent(REFGUID, VARIANT_BOOL*) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetEventInterest(GUID**, ULONG*) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE SetEventInterest(GUID*, ULONG) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE SetEventSink(ISensorEvents* sink) override;

    // The registered sink, null when none.
    ISensorEvents* sink() const;

    std::atomic<std::int32_t> state{0};
    HRESULT state_hr = S_OK;
    // Without a list, GetSupportedDataFields succeeds and gives no collection.
    std::optional<std::vector<PROPERTYKEY>> fields;
    HRESULT fields_hr = S_OK;
    HRESULT count_hr = S_OK;
    std::optional<DWORD> failing_index;
    HRESULT set_sink_hr = S_OK;
    HRESULT clear_sink_hr = S_OK;
    std::map<DWORD, FakeProperty> properties;

    std::atomic<int> sink_sets{0};
    std::atomic<int> sink_clears{0};

  private:
    mutable std::mutex mutex_;
    ComPtr<ISensorEvents> sink_;
};

class FakeSensorManager final : public Fake<ISensorManager, IID_ISensorManager> {
  public:
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetSensorsByCategory(REFSENSOR_CATEGORY_ID,
                                                                 ISensorCollection**) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetSensorsByType(REFSENSOR_TYPE_ID,
                                                             ISensorCollection**) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetSensorByID(REFSENSOR_ID id,
                                                          ISensor** sensor) override;
    [[nodiscard]] HRESULT STDMETHODCALLTYPE SetEventSink(ISensorManagerEvents* sink) override;
    [[nodiscard]] HRESULT STDMETHODCALLTYPE RequestPermissions(HWND, ISensorCollection*,
                                                               WINBOOL) override {
        return E_NOTIMPL;
    }

    ISensorManagerEvents* sink() const;
    // The sensor GetSensorByID finds for the tap sensor's ID; none: not found.
    void set_present(FakeSensor* sensor);

    HRESULT set_sink_hr = S_OK;
    HRESULT clear_sink_hr = S_OK;
    std::atomic<int> sink_sets{0};
    std::atomic<int> sink_clears{0};

  private:
    mutable std::mutex mutex_;
    ComPtr<ISensorManagerEvents> sink_;
    ComPtr<FakeSensor> present_;
};

template <class T, class... Args>
ComPtr<T> make_fake(Args&&... args) {
    return ComPtr<T>::adopt(new T(std::forward<Args>(args)...));
}

// The messages the subscription's callables posted, drained from their channel.
class Messages {
  public:
    Messages();
    sensors::SensorCallbacks callbacks() const;
    // One line per message, e.g. "DataUpdated UI4[1, 0, 0, 0, 0, 0, 0, 0]", "Entered
    // SensorStateReady".
    std::vector<std::string> take();

  private:
    explicit Messages(std::pair<channel::Sender<sensors::SensorMessage>,
                                channel::Receiver<sensors::SensorMessage>>
                          ends);

    channel::Sender<sensors::SensorMessage> sender_;
    channel::Receiver<sensors::SensorMessage> receiver_;
};

}  // namespace norvo::testing
