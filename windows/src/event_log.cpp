#include "norvo/windows/event_log.hpp"

#include "norvo/host/fatal_report.hpp"
#include "norvo/windows/win32.hpp"

#include <atomic>

namespace norvo::windows {
namespace {

std::atomic<const wchar_t*> g_event_source{nullptr};
std::atomic<DWORD> g_main_thread{0};
std::atomic<ThreadDescriptionFunction> g_thread_description{nullptr};

}  // namespace

ThreadDescriptionFunction resolve_thread_description() {
    // Exported since Windows 10 1607, by KernelBase first; a static import would keep the exe
    // from loading on older systems.
    for (const wchar_t* module : {L"kernelbase.dll", L"kernel32.dll"}) {
        const HMODULE loaded = GetModuleHandleW(module);
        if (!loaded)
            continue;
        if (const FARPROC found = GetProcAddress(loaded, "GetThreadDescription"))
            return reinterpret_cast<ThreadDescriptionFunction>(reinterpret_cast<void*>(found));
    }
    return nullptr;
}

std::string own_thread_name(ThreadDescriptionFunction describe) {
    if (!describe)
        return std::to_string(GetCurrentThreadId());
    wchar_t* description = nullptr;
    if (FAILED(describe(GetCurrentThread(), &description)))
        return {};
    LocalMemory owned(description);
    return to_utf8(description);
}

void install_fatal_reporting(const wchar_t* event_source) {
    g_main_thread.store(GetCurrentThreadId());
    g_thread_description.store(resolve_thread_description());
    g_event_source.store(event_source);
    set_fatal_hook(&report_to_event_log);
    install_terminate_handler();
}

std::vector<std::wstring> event_log_strings(std::string_view report) {
    std::vector<std::wstring> strings;
    for (const auto line : host::report_lines(report)) strings.push_back(to_wide(line));
    return strings;
}

void report_to_event_log(const FatalError& error) {
    const std::string name = own_thread_name(g_thread_description.load());
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
