#include "norvo/linux_host/journal_sink.hpp"

#include <fmt/format.h>

#include "norvo/host/log_targets.hpp"

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

std::string host_warning(const std::string& message) {
    return journal_line({log::Level::Warn, host::kHostLog.name(), "", 0, message});
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

std::string dropped_records_line(std::uint64_t dropped) {
    return host_warning(fmt::format("{} log records dropped", dropped));
}

std::string dropped_output_line(std::uint64_t dropped) {
    return host_warning(fmt::format("{} standard output lines dropped", dropped));
}

void JournalSink::write(const log::Record& record) {
    // Warnings and errors are what a reader looks for after a flood of detail.
    writer_.write(journal_line(record), record.level <= log::Level::Warn);
}

}  // namespace norvo::linux_host
