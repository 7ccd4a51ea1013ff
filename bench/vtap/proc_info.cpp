#include "proc_info.hpp"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace norvo::bench {
namespace {

std::optional<std::string> slurp(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return std::move(text).str();
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\n");
    return text.substr(first, last - first + 1);
}

// Each "name: value" line of a /proc text.
template <class Visit>
void for_each_field(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos)
            visit(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
}

std::uint64_t leading_number(std::string_view text) {
    std::uint64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

}  // namespace

Machine machine_from(std::string_view cpuinfo, std::string_view osrelease) {
    Machine machine;
    machine.kernel = trim(osrelease);
    for_each_field(cpuinfo, [&](std::string_view name, std::string_view value) {
        if (name == "processor")
            ++machine.cores;
        else if (name == "model name" && machine.cpu_model.empty())
            machine.cpu_model = value;
    });
    if (machine.cpu_model.empty())
        machine.cpu_model = "unknown";
    return machine;
}

Machine read_machine() {
    return machine_from(slurp("/proc/cpuinfo").value_or(""),
                        slurp("/proc/sys/kernel/osrelease").value_or("unknown"));
}

std::string load_average_from(std::string_view loadavg) {
    std::size_t end = 0;
    for (int field = 0; field < 3 && end != std::string_view::npos; ++field)
        end = loadavg.find(' ', end + (field > 0));
    return std::string(trim(loadavg.substr(0, end)));
}

std::string read_load_average() {
    return load_average_from(slurp("/proc/loadavg").value_or("unknown"));
}

TaskStatus parse_status(std::string_view text) {
    TaskStatus status;
    for_each_field(text, [&](std::string_view name, std::string_view value) {
        if (name == "VmRSS")
            status.rss_kib = leading_number(value);
        else if (name == "Threads")
            status.threads = leading_number(value);
        else if (name == "voluntary_ctxt_switches" || name == "nonvoluntary_ctxt_switches")
            status.context_switches += leading_number(value);
    });
    return status;
}

std::optional<TaskStatus> read_process(pid_t pid) {
    const auto text = slurp(std::filesystem::path("/proc") / std::to_string(pid) / "status");
    if (!text)
        return std::nullopt;
    return parse_status(*text);
}

// A thread that ends between the listing and the read is simply not counted.
std::optional<std::uint64_t> context_switches(pid_t pid) {
    std::error_code error;
    std::filesystem::directory_iterator tasks(
        std::filesystem::path("/proc") / std::to_string(pid) / "task", error);
    if (error)
        return std::nullopt;
    std::uint64_t sum = 0;
    for (const auto& task : tasks) {
        if (const auto text = slurp(task.path() / "status"))
            sum += parse_status(*text).context_switches;
    }
    return sum;
}

}  // namespace norvo::bench
