#pragma once
// Owners for Win32 handles, text conversion and the platform's error values.

#include "norvo/host/host_error.hpp"
#include "norvo/sensors/sensor_error.hpp"

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace norvo::windows {

template <auto Release>
struct Releaser {
    template <class P>
    void operator()(P handle) const noexcept {
        Release(handle);
    }
};

using UniqueHandle = std::unique_ptr<void, Releaser<&CloseHandle>>;
using ServiceHandle =
    std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, Releaser<&CloseServiceHandle>>;
using EventSourceHandle = std::unique_ptr<void, Releaser<&DeregisterEventSource>>;
using LocalMemory = std::unique_ptr<void, Releaser<&LocalFree>>;

// The name the service control manager knows the service by.
inline constexpr wchar_t kServiceName[] = L"NorvoVTap";

std::wstring to_wide(std::string_view utf8);
std::string to_utf8(std::wstring_view wide);

// An HRESULT with the system's message for it.
sensors::PlatformError hresult_error(std::int32_t code);
// A Win32 error code as an HRESULT with the system's message for it.
sensors::PlatformError platform_error(DWORD code);
sensors::PlatformError last_platform_error();

// "IO error in winapi call", caused by the calling thread's last error.
host::HostError last_error();

}  // namespace norvo::windows
