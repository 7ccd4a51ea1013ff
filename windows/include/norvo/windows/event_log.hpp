#pragma once
// Fatal-error reports in the Windows event log.

#include "norvo/fatal.hpp"

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace norvo::windows {

inline constexpr unsigned kFatalEventId = 42;

using ThreadDescriptionFunction = HRESULT(WINAPI*)(HANDLE thread, PWSTR* description);

// GetThreadDescription where the system has it, else null.
ThreadDescriptionFunction resolve_thread_description();

// The calling thread's own name through `describe`, empty when it has none; its id when the
// system cannot tell names.
std::string own_thread_name(ThreadDescriptionFunction describe);

// Names the event-log source, remembers the calling thread as "main" and installs
// report_to_event_log as the fatal-error hook, which uncaught exceptions reach too.
void install_fatal_reporting(const wchar_t* event_source);

// The fatal-error hook: one error entry per report, one insertion string per line.
void report_to_event_log(const FatalError& error);

// The report's lines as ReportEventW takes them.
std::vector<std::wstring> event_log_strings(std::string_view report);

}  // namespace norvo::windows
