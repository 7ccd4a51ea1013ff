// norvo-vtap.exe: prepares logging and fatal-error reporting, then hands the
// process to the service control manager until the service has stopped, and ends it.

#include "norvo/caller_limit.hpp"
#include "norvo/host/etw.hpp"
#include "norvo/host/log_targets.hpp"
#include "norvo/windows/etw_provider.hpp"
#include "norvo/windows/event_log.hpp"
#include "norvo/windows/qpc_clock.hpp"
#include "norvo/windows/service_platform.hpp"
#include "norvo/windows/win32.hpp"

#include <cstdio>

#include <messages.h>

// Event Viewer finds the reports' text by this identifier in the exe's message table.
static_assert(NORVO_MSG_FATAL_REPORT == norvo::windows::kFatalEventId);

namespace {

// Someone ran the exe from a console: say what it is before the fatal error ends it.
void explain_console_start() {
    std::fputs(
        "norvo-vtap.exe is the NorvoVTap Windows service: the service control manager starts it,\n"
        "it does not run from a console. Install it from an elevated prompt in the unpacked "
        "folder\n"
        "with\n"
        "    norvo-vtap-service.cmd install\n"
        "    sc.exe start NorvoVTap\n"
        "and talk to it with vtapctl.exe.\n",
        stderr);
}

}  // namespace

int main() {
    using namespace norvo;
    windows::install_fatal_reporting(windows::kServiceName);
    log::set_max_level(log::Level::Trace);

    auto provider = std::make_unique<windows::EtwProvider>();
    provider->register_provider();
    // In front of ETW, the limit on the lines each client account's calls cause.
    auto etw = std::make_shared<host::etw::EtwLogger>(std::move(provider));
    auto limit = std::make_shared<log::CallerLimit>(std::make_shared<windows::QpcClock>(), etw,
                                                    host::kHostLog.name());
    log::set_sink(std::make_shared<log::CallerLimitedSink>(std::move(etw), std::move(limit)));

    wchar_t name[] = L"NorvoVTap";
    SERVICE_TABLE_ENTRYW table[] = {{name, &windows::service_main}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        // The message is composed at run time, so the event-log report holds the location only;
        // whoever started the program by hand sees the message here.
        const auto error = windows::last_platform_error();
        if (error.code == HRESULT_FROM_WIN32(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT))
            explain_console_start();
        std::fprintf(stderr, "Failed to start service: %s\n", fmt::format("{}", error).c_str());
        fatal({});
    }
    // The stopped status and "Application stop" are out. Taking the sink out writes the limit's
    // last summaries (once no thread still writes through it). Returning would run the static
    // destructors (the log facade itself) while RPC threads finishing a call may still log;
    // ExitProcess ends those threads before anything is torn down.
    log::set_sink(nullptr);
    ExitProcess(0);
}
