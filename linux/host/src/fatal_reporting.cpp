#include "norvo/linux_host/fatal_reporting.hpp"

#include <pthread.h>
#include <syslog.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <string>

#include "norvo/host/fatal_report.hpp"

namespace norvo::linux_host {
namespace {

// Set once on the main thread before the hook is installed; read only afterwards.
std::array<char, 64> g_event_source{};
std::array<char, 16> g_inherited_name{};  // threads start with the process's name
std::atomic<bool> g_named{false};

std::string own_thread_name() {
    std::array<char, 16> name{};
    if (::pthread_getname_np(::pthread_self(), name.data(), name.size()) != 0)
        return {};
    if (std::string_view(name.data()) == std::string_view(g_inherited_name.data()))
        return {};
    return name.data();
}

void write_stderr(std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

void install_fatal_reporting(std::string_view event_source) {
    const auto size = std::min(event_source.size(), g_event_source.size() - 1);
    event_source.copy(g_event_source.data(), size);
    g_event_source[size] = '\0';
    ::pthread_getname_np(::pthread_self(), g_inherited_name.data(), g_inherited_name.size());
    g_named.store(true);
    set_fatal_hook(&report_fatal);
    install_terminate_handler();
}

void report_fatal(const FatalError& error) {
    const bool main_thread = ::gettid() == ::getpid();
    const std::string name = own_thread_name();
    const std::string report =
        host::compose_fatal_report(error, host::thread_label(main_thread, name));
    const auto lines = host::report_lines(report);
    for (const auto line : lines) write_stderr("<3>" + std::string(line) + "\n");
    if (!g_named.load())
        return;
    ::openlog(g_event_source.data(), LOG_PID, LOG_DAEMON);
    for (const auto line : lines)
        ::syslog(LOG_ERR, "%.*s", static_cast<int>(line.size()), line.data());
    ::closelog();
}

}  // namespace norvo::linux_host
