#include "norvo/windows/com_apartment.hpp"

#include "norvo/windows/win32.hpp"

#include <objbase.h>

namespace norvo::windows {

std::expected<void, sensors::PlatformError> MtaApartment::initialize() {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(result))
        return std::unexpected(hresult_error(result));
    return {};
}

void MtaApartment::uninitialize() {
    CoUninitialize();
}

}  // namespace norvo::windows
