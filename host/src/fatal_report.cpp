#include "norvo/host/fatal_report.hpp"

#include <fmt/format.h>

namespace norvo::host {

std::string_view thread_label(bool main_thread, std::string_view own_name) {
    if (main_thread)
        return "main";
    return own_name.empty() ? "<unnamed>" : own_name;
}

std::string compose_fatal_report(const FatalError& error, std::string_view thread) {
    std::string report =
        fmt::format("thread '{}' panicked at {}:{}:{}", thread, error.where.file_name(),
                    error.where.line(), error.where.column());
    if (!error.fixed_message.empty()) {
        report += ":\n";
        report += error.fixed_message;
    }
    if (!error.exception.empty()) {
        report += error.fixed_message.empty() ? ":\n" : "\n";
        report += error.exception;
    }
    return report;
}

std::vector<std::string_view> report_lines(std::string_view report) {
    std::vector<std::string_view> lines;
    while (!report.empty()) {
        const auto end = report.find('\n');
        auto line = report.substr(0, end);
        if (end != std::string_view::npos && line.ends_with('\r'))
            line.remove_suffix(1);
        lines.push_back(line);
        report = end == std::string_view::npos ? std::string_view{} : report.substr(end + 1);
    }
    return lines;
}

}  // namespace norvo::host
