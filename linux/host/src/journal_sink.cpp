#include "norvo/linux_host/journal_sink.hpp"

#include <unistd.h>

#include <cerrno>

namespace norvo::linux_host {
namespace {

// The syslog priorities of sd-daemon(3).
char priority(log::Level level) {
    switch (level) {
        case log::Level::Error:
            return '3';
        case log::Level::Warn:
            return '4';
        case log::Level::Info:
            return '6';
        case log::Level::Debug:
        case log::Level::Trace:
            return '7';
    }
    return '7';
}

}  // namespace

std::string journal_line(const log::Record& record) {
    std::string line{'<', priority(record.level), '>'};
    line += record.target;
    line += ": ";
    for (const char c : record.message) {
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else {
            line += c;
        }
    }
    line += '\n';
    return line;
}

void JournalSink::write(const log::Record& record) {
    const std::string line = journal_line(record);
    std::string_view rest = line;
    while (!rest.empty()) {
        const ssize_t n = ::write(fd_, rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // nowhere to log to
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace norvo::linux_host
