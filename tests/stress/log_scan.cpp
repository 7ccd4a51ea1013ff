#include "log_scan.hpp"

#include <array>

namespace norvo::stress {
namespace {

constexpr std::string_view kCore = "vxt_impl::rpc_server: ";

// The message of a core log line at `priority`, or an empty view.
std::string_view core_message(std::string_view line, char priority) {
    if (line.size() < 3 || line[0] != '<' || line[1] != priority || line[2] != '>')
        return {};
    line.remove_prefix(3);
    if (!line.starts_with(kCore))
        return {};
    line.remove_prefix(kCore.size());
    return line;
}

}  // namespace

bool is_sanitizer_line(std::string_view line) {
    if (line.starts_with('<'))
        return false;
    constexpr std::array kMarks = {std::string_view("Sanitizer"),
                                   std::string_view("runtime error:")};
    for (const auto mark : kMarks) {
        if (line.find(mark) != std::string_view::npos)
            return true;
    }
    return false;
}

void LogScan::take(std::string_view line) {
    const auto debug = core_message(line, '7');
    const auto info = core_message(line, '6');
    {
        std::lock_guard lock(mutex_);
        if (is_sanitizer_line(line))
            reports_.emplace_back(line);
        else if (debug == "RemoteOpen() called")
            ++counts_.opens;
        else if (debug == "RemoteClose() finished")
            ++counts_.closes;
        else if (info == "NorvoStartSensor() called")
            ++counts_.starts;
        else if (info.starts_with("End of the NorvoStartSensor() called, result: "))
            ++counts_.ends;
        else
            return;
    }
    changed_.notify_all();
}

void LogScan::end() {
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    changed_.notify_all();
}

bool LogScan::wait_settled(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return ended_ || counts_.settled(); });
    return counts_.settled();
}

LogCounts LogScan::counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

std::vector<std::string> LogScan::reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
}

}  // namespace norvo::stress
