#include "fakes.hpp"

#include <fmt/format.h>

#include <cstring>

#include "norvo/sensorlib/platform_error.hpp"
#include "norvo/service/sensor_callbacks.hpp"
#include "norvo/text.hpp"

namespace norvo::testing {
namespace {

bool same_key(REFPROPERTYKEY a, REFPROPERTYKEY b) {
    return a.pid == b.pid && IsEqualGUID(a.fmtid, b.fmtid);
}

const GUID kFieldSet{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

}  // namespace

std::atomic<int>& live_fakes() {
    static std::atomic<int> count{0};
    return count;
}

GUID platform_guid(const Guid& g) {
    GUID out{g.data1, g.data2, g.data3, {}};
    std::memcpy(out.Data4, g.data4.data(), 8);
    return out;
}

std::string error_text(HRESULT code) {
    return fmt::format("Error {{ code: HRESULT(0x{:08X}), message: \"{}\" }}",
                       static_cast<std::uint32_t>(code), sensorlib::platform_error(code).message);
}

PROPERTYKEY field_key(DWORD pid) {
    return PROPERTYKEY{kFieldSet, pid};
}

HRESULT FakeKeys::GetCount(DWORD* count) {
    if (FAILED(count_hr))
        return count_hr;
    *count = static_cast<DWORD>(keys.size());
    return S_OK;
}

HRESULT FakeKeys::GetAt(const DWORD index, PROPERTYKEY* key) {
    if (failing_index == index)
        return E_FAIL;
    if (index >= keys.size())
        return E_INVALIDARG;
    *key = keys[index];
    return S_OK;
}

HRESULT FakeReport::GetSensorValue(REFPROPERTYKEY key, PROPVARIANT* value) {
    ++reads;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!same_key(key, field_key(static_cast<DWORD>(i + 2))))
            continue;
        if (FAILED(values[i].hr))
            return values[i].hr;
        value->vt = values[i].vt;
        std::memcpy(&value->uhVal, values[i].bytes.data(), 8);
        return S_OK;
    }
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

FakeSensor::FakeSensor()
    : fields(std::vector<PROPERTYKEY>{field_key(2), field_key(3)}),
      properties{{7, {S_OK, VT_LPWSTR, u"Tap model", {}}},
                 {6, {S_OK, VT_LPWSTR, u"Tap maker", {}}},
                 {5, {S_OK, VT_CLSID, {}, kTapId}}} {}

HRESULT FakeSensor::GetProperty(REFPROPERTYKEY key, PROPVARIANT* value) {
    PropVariantInit(value);
    const auto it = properties.find(key.pid);
    if (it == properties.end() ||
        !IsEqualGUID(key.fmtid, platform_guid(sensors::tap_sensor::kSensorPropertyCommon))) {
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    const FakeProperty& p = it->second;
    if (FAILED(p.hr))
        return p.hr;
    if (p.vt == VT_LPWSTR) {
        value->pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc((p.text.size() + 1) * sizeof(WCHAR)));
        std::memcpy(value->pwszVal, p.text.c_str(), (p.text.size() + 1) * sizeof(WCHAR));
    } else if (p.vt == VT_CLSID) {
        value->puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
        *value->puuid = p.guid;
    }
    value->vt = p.vt;
    return S_OK;
}

HRESULT FakeSensor::GetSupportedDataFields(IPortableDeviceKeyCollection** out) {
    *out = nullptr;
    if (FAILED(fields_hr))
        return fields_hr;
    if (!fields)
        return S_OK;
    auto keys = make_fake<FakeKeys>(*fields);
    keys->count_hr = count_hr;
    keys->failing_index = failing_index;
    *out = keys.detach();
    return S_OK;
}

HRESULT FakeSensor::GetState(SensorState* out) {
    if (FAILED(state_hr))
        return state_hr;
    *out = static_cast<SensorState>(state.load());
    return S_OK;
}

HRESULT FakeSensor::SetEventSink(ISensorEvents* sink) {
    ++(sink ? sink_sets : sink_clears);
    const HRESULT hr = sink ? set_sink_hr : clear_sink_hr;
    if (FAILED(hr))
        return hr;
    auto replacement = ComPtr<ISensorEvents>::share(sink);
    std::lock_guard lock(mutex_);
    std::swap(sink_, replacement);
    return S_OK;
}

ISensorEvents* FakeSensor::sink() const {
    std::lock_guard lock(mutex_);
    return sink_.get();
}

HRESULT FakeSensorManager::GetSensorByID(REFSENSOR_ID id, ISensor** sensor) {
    *sensor = nullptr;
    std::lock_guard lock(mutex_);
    if (!present_ || !IsEqualGUID(id, kTapId))
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    *sensor = ComPtr<ISensor>::share(present_.get()).detach();
    return S_OK;
}

HRESULT FakeSensorManager::SetEventSink(ISensorManagerEvents* sink) {
    ++(sink ? sink_sets : sink_clears);
    const HRESULT hr = sink ? set_sink_hr : clear_sink_hr;
    if (FAILED(hr))
        return hr;
    auto replacement = ComPtr<ISensorManagerEvents>::share(sink);
    std::lock_guard lock(mutex_);
    std::swap(sink_, replacement);
    return S_OK;
}

ISensorManagerEvents* FakeSensorManager::sink() const {
    std::lock_guard lock(mutex_);
    return sink_.get();
}

void FakeSensorManager::set_present(FakeSensor* sensor) {
    auto replacement = ComPtr<FakeSensor>::share(sensor);
    std::lock_guard lock(mutex_);
    std::swap(present_, replacement);
}

namespace {

std::string describe(const sensors::SensorMessage& message) {
    struct Describe {
        std::string operator()(const sensors::message::DataUpdated& m) const {
            std::string line = "DataUpdated";
            for (const auto& f : m.fields) {
                line +=
                    fmt::format(" {}{}", sensors::value_type_name(f.value_type), ByteList{f.value});
            }
            return line;
        }
        std::string operator()(const sensors::message::StateChanged& m) const {
            return fmt::format("StateChanged {}", m.state);
        }
        std::string operator()(const sensors::message::Left&) const { return "Left"; }
        std::string operator()(const sensors::message::Entered& m) const {
            return fmt::format("Entered {}", m.state);
        }
    };
    return std::visit(Describe{}, message);
}

}  // namespace

Messages::Messages() : Messages(channel::unbounded<sensors::SensorMessage>()) {}

Messages::Messages(
    std::pair<channel::Sender<sensors::SensorMessage>, channel::Receiver<sensors::SensorMessage>>
        ends)
    : sender_(std::move(ends.first)), receiver_(std::move(ends.second)) {}

sensors::SensorCallbacks Messages::callbacks() const {
    return service::make_sensor_callbacks(sender_);
}

std::vector<std::string> Messages::take() {
    std::vector<std::string> out;
    while (auto message = receiver_.try_recv()) out.push_back(describe(*message));
    return out;
}

}  // namespace norvo::testing
