#include "norvo/windows/event_log.hpp"

#include "norvo/host/fatal_report.hpp"
#include "norvo/windows/win32.hpp"

#include <atomic>

// Declared by newer SDKs only; kernel32 exports it since Windows 10 1607.
extern "C" HRESULT WINAPI GetThreadDescription(HANDLE thread, PWSTR* description);

namespace norvo::windows {
namespace {

std::atomic<const wchar_t*> g_event_source{nullptr};
std::atomic<DWORD> g_main_thread{0};

std::string own_thread_name() {
    wchar_t* description = nullptr;
    if (FAILED(GetThreadDescription(GetCurrentThread(), &description)))
        return {};
    LocalMemory owned(description);
    return to_utf8(description);
}

}  // namespace

void install_fatal_reporting(const wchar_t* event_source) {
    g_main_thread.store(GetCurrentThreadId());
    g_event_source.store(event_source);
    set_fatal_hook(&report_to_event_log);
}

std::vector<std::wstring> event_log_strings(std::string_view report) {
    std::vector<std::wstring> strings;
    for (const auto line : host::report_lines(report)) strings.push_back(to_wide(line));
    return strings;
}

void report_to_event_log(const FatalError& error) {
    const std::string name = own_thread_name();
    const std::string report = host::compose_fatal_report(
        error, host::thread_label(GetCurrentThreadId() == g_main_thread.load(), name));
    const wchar_t* source = g_event_source.load();
    if (!source)
        return;
    EventSourceHandle event_log(RegisterEventSourceW(nullptr, source));
    if (!event_log)
        return;
    const auto strings = event_log_strings(report);
    std::vector<const wchar_t*> pointers;
    for (const auto& s : strings) pointers.push_back(s.c_str());
    ReportEventW(event_log.get(), EVENTLOG_ERROR_TYPE, 0, kFatalEventId, nullptr,
                 static_cast<WORD>(pointers.size()), 0, pointers.data(), nullptr);
}

}  // namespace norvo::windows
