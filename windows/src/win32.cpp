#include "norvo/windows/win32.hpp"

#include "norvo/host/rpc_error.hpp"
#include "norvo/sensorlib/platform_error.hpp"

namespace norvo::windows {

std::wstring to_wide(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

std::string to_utf8(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                        nullptr, nullptr);
    return utf8;
}

sensors::PlatformError hresult_error(std::int32_t code) {
    return sensorlib::platform_error(static_cast<HRESULT>(code));
}

sensors::PlatformError platform_error(DWORD code) {
    return hresult_error(host::hresult_from_win32(static_cast<std::int32_t>(code)));
}

sensors::PlatformError last_platform_error() {
    return platform_error(GetLastError());
}

host::HostError last_error() {
    return host::platform_call_error(fmt::format("{}", last_platform_error()));
}

}  // namespace norvo::windows
