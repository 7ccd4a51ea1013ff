// norvo-vtap.exe: prepares logging and fatal-error reporting, then hands the
// process to the service control manager until the service has stopped, and ends it.

#include "norvo/host/etw.hpp"
#include "norvo/windows/etw_provider.hpp"
#include "norvo/windows/event_log.hpp"
#include "norvo/windows/service_platform.hpp"
#include "norvo/windows/win32.hpp"

#include <cstdio>

int main() {
    using namespace norvo;
    windows::install_fatal_reporting(windows::kServiceName);
    log::set_max_level(log::Level::Trace);

    auto provider = std::make_unique<windows::EtwProvider>();
    provider->register_provider();
    log::set_sink(std::make_shared<host::etw::EtwLogger>(std::move(provider)));

    wchar_t name[] = L"NorvoVTap";
    SERVICE_TABLE_ENTRYW table[] = {{name, &windows::service_main}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        // The message is composed at run time, so the event-log report holds the location only;
        // whoever started the program by hand sees the message here.
        const auto error = windows::last_platform_error();
        std::fprintf(stderr, "Failed to start service: %s\n", fmt::format("{}", error).c_str());
        fatal({});
    }
    // The stopped status and "Application stop" are out. Returning would run the static
    // destructors (the log facade's sink, the ETW registration) while RPC threads finishing a
    // call may still log; ExitProcess ends those threads before anything is torn down.
    ExitProcess(0);
}
