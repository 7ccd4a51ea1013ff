// The stand-in Sensor API's COM objects: the sensor manager, the sensor, its
// data-field collection and its data reports. Their state lives in the DeviceHub.

#include <cstring>

#include "device_hub.hpp"
#include "norvo/sensorlib/com_object.hpp"
#include "norvo/sensors/tap_sensor.hpp"

namespace norvo::linux_platform {
namespace {

namespace tap = sensors::tap_sensor;
using sensorlib::ComObject;

bool same_key(REFPROPERTYKEY a, const sensors::PropertyKey& b) {
    return a.pid == b.pid && a.fmtid.Data1 == b.fmtid.data1 && a.fmtid.Data2 == b.fmtid.data2 &&
           a.fmtid.Data3 == b.fmtid.data3 &&
           std::memcmp(a.fmtid.Data4, b.fmtid.data4.data(), 8) == 0;
}

bool same_key(REFPROPERTYKEY a, REFPROPERTYKEY b) {
    return a.pid == b.pid && IsEqualGUID(a.fmtid, b.fmtid);
}

// Text the device sent, checked as UTF-8 by the protocol, as a task-allocated UTF-16 string.
LPWSTR task_string(std::string_view utf8) {
    std::u16string units;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t code = length == 1 ? c : c & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        if (code >= 0x10000) {
            units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    auto* out = static_cast<LPWSTR>(CoTaskMemAlloc((units.size() + 1) * sizeof(WCHAR)));
    std::memcpy(out, units.c_str(), (units.size() + 1) * sizeof(WCHAR));
    return out;
}

class KeyCollection final
    : public ComObject<IPortableDeviceKeyCollection, IID_IPortableDeviceKeyCollection> {
  public:
    explicit KeyCollection(std::vector<PROPERTYKEY> keys) : keys_(std::move(keys)) {}

    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
        if (!count)
            return E_POINTER;
        *count = static_cast<DWORD>(keys_.size());
        return S_OK;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* key) override {
        if (!key)
            return E_POINTER;
        if (index >= keys_.size())
            return E_INVALIDARG;
        *key = keys_[index];
        return S_OK;
    }
    // The sensor's own list: read only.
    [[nodiscard]] HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY) override { return E_NOTIMPL; }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE Clear() override { return E_NOTIMPL; }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD) override { return E_NOTIMPL; }

  private:
    const std::vector<PROPERTYKEY> keys_;
};

class ReportObject final : public ComObject<ISensorDataReport, IID_ISensorDataReport> {
  public:
    ReportObject(std::shared_ptr<const Presence> presence,
                 std::vector<sensor_device::ReportValue> values)
        : presence_(std::move(presence)), values_(std::move(values)) {}

    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetTimestamp(SYSTEMTIME*) override { return E_NOTIMPL; }

    // Value i belongs to field i; a field the report carries no value for is not found.
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetSensorValue(REFPROPERTYKEY key,
                                                           PROPVARIANT* value) override {
        if (!value)
            return E_POINTER;
        PropVariantInit(value);
        const auto& fields = presence_->fields;
        for (std::size_t i = 0; i < fields.size() && i < values_.size(); ++i) {
            if (!same_key(key, fields[i]))
                continue;
            value->vt = values_[i].type;
            std::memcpy(&value->uhVal, values_[i].bytes.data(), values_[i].bytes.size());
            return S_OK;
        }
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }

    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetSensorValues(IPortableDeviceKeyCollection*,
                                                            IPortableDeviceValues**) override {
        return E_NOTIMPL;
    }

  private:
    const std::shared_ptr<const Presence> presence_;
    const std::vector<sensor_device::ReportValue> values_;
};

class SensorObject final : public ComObject<ISensor, IID_ISensor> {
  public:
    explicit SensorObject(std::shared_ptr<const Presence> presence)
        : presence_(std::move(presence)) {}

    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetID(SENSOR_ID* id) override {
        if (!id)
            return E_POINTER;
        *id = tap_sensor_id();
        return S_OK;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetProperty(REFPROPERTYKEY key,
                                                        PROPVARIANT* value) override {
        if (!value)
            return E_POINTER;
        PropVariantInit(value);
        if (same_key(key, tap::kModel) || same_key(key, tap::kManufacturer)) {
            value->vt = VT_LPWSTR;
            value->pwszVal = task_string(same_key(key, tap::kModel) ? presence_->model
                                                                    : presence_->manufacturer);
            return S_OK;
        }
        if (same_key(key, tap::kPersistentUniqueId)) {
            value->vt = VT_CLSID;
            value->puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
            *value->puuid = tap_sensor_id();
            return S_OK;
        }
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE
    GetSupportedDataFields(IPortableDeviceKeyCollection** fields) override {
        if (!fields)
            return E_POINTER;
        *fields = new KeyCollection(presence_->fields);
        return S_OK;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetState(SensorState* state) override {
        return DeviceHub::instance().state_of(*presence_, state);
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE SetEventSink(ISensorEvents* sink) override {
        return DeviceHub::instance().set_sensor_sink(*this, *presence_, sink);
    }

    // Not part of what the tap sensor offers.
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetCategory(SENSOR_CATEGORY_ID*) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetType(SENSOR_TYPE_ID*) override { return E_NOTIMPL; }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetFriendlyName(BSTR*) override { return E_NOTIMPL; }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetProperties(IPortableDeviceKeyCollection*,
                                                          IPortableDeviceValues**) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE SetProperties(IPortableDeviceValues*,
                                                          IPortableDeviceValues**) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE SupportsDataField(REFPROPERTYKEY,
                                                              VARIANT_BOOL*) override {
        return E_NOTIMPL;
    }
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

  private:
    const std::shared_ptr<const Presence> presence_;
};

class ManagerObject final : public ComObject<ISensorManager, IID_ISensorManager> {
  public:
    ~ManagerObject() override { DeviceHub::instance().forget_manager(this); }

    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetSensorByID(REFSENSOR_ID id,
                                                          ISensor** sensor) override {
        return DeviceHub::instance().find_sensor(this, id, sensor);
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE SetEventSink(ISensorManagerEvents* sink) override {
        DeviceHub::instance().set_manager_sink(this, sink);
        return S_OK;
    }

    // The tap sensor is found by its ID alone.
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetSensorsByCategory(REFSENSOR_CATEGORY_ID,
                                                                 ISensorCollection**) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE GetSensorsByType(REFSENSOR_TYPE_ID,
                                                             ISensorCollection**) override {
        return E_NOTIMPL;
    }
    [[nodiscard]] HRESULT STDMETHODCALLTYPE RequestPermissions(HWND, ISensorCollection*,
                                                               WINBOOL) override {
        return E_NOTIMPL;
    }
};

}  // namespace

ComPtr<ISensor> make_sensor_object(std::shared_ptr<const Presence> presence) {
    return ComPtr<ISensor>::adopt(new SensorObject(std::move(presence)));
}

ComPtr<ISensorDataReport> make_report_object(std::shared_ptr<const Presence> presence,
                                             std::vector<sensor_device::ReportValue> values) {
    return ComPtr<ISensorDataReport>::adopt(
        new ReportObject(std::move(presence), std::move(values)));
}

ComPtr<ISensorManager> make_sensor_manager() {
    return ComPtr<ISensorManager>::adopt(new ManagerObject);
}

}  // namespace norvo::linux_platform
