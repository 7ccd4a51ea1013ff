// Ends the way an unrecoverable error ends the service, for the Wine test of its reports:
//   fatal_probe out-of-range   an .at() out of range, uncaught, on a thread named "sensor loop"
//   fatal_probe system-error   a std::system_error, uncaught, on the main thread

#include "norvo/windows/event_log.hpp"
#include "norvo/windows/win32.hpp"

#include <cstdio>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace {

using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);

void name_this_thread(const wchar_t* name) {
    const auto set = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "SetThreadDescription")));
    if (set)
        set(GetCurrentThread(), name);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view how = argc > 1 ? argv[1] : "";
    norvo::windows::install_fatal_reporting(norvo::windows::kServiceName);
    if (how == "out-of-range") {
        std::thread([] {
            name_this_thread(L"sensor loop");
            std::vector<int> none;
            std::printf("%d\n", none.at(3));
        }).join();
    } else if (how == "system-error") {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "thread");
    }
    std::puts("usage: fatal_probe out-of-range | system-error");
    return 2;
}
