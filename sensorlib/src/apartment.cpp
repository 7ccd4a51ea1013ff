#include "norvo/sensorlib/platform_error.hpp"
#include "norvo/sensorlib/sensor_library.hpp"

namespace norvo::sensorlib {

std::expected<void, sensors::PlatformError> MtaApartment::initialize() {
    // S_FALSE (already joined) counts too, and is balanced by its own CoUninitialize.
    if (const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED); FAILED(hr)) {
        return std::unexpected(platform_error(hr));
    }
    return {};
}

void MtaApartment::uninitialize() {
    CoUninitialize();
}

}  // namespace norvo::sensorlib
