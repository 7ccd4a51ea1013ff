#include "norvo/log.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <utility>

#include "norvo/installed.hpp"

namespace norvo::log {
namespace {

std::atomic<Level> g_max_level{Level::Trace};
Installed<Sink> g_sink;
thread_local std::string_view t_caller;

}  // namespace

std::string_view level_name(Level level) {
    switch (level) {
        case Level::Error:
            return "ERROR";
        case Level::Warn:
            return "WARN";
        case Level::Info:
            return "INFO";
        case Level::Debug:
            return "DEBUG";
        case Level::Trace:
            return "TRACE";
    }
    return "?";
}

std::optional<Level> level_named(std::string_view name) {
    for (const auto level : {Level::Error, Level::Warn, Level::Info, Level::Debug, Level::Trace}) {
        if (std::ranges::equal(name, level_name(level), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) == b;
            })) {
            return level;
        }
    }
    return std::nullopt;
}

CallerScope::CallerScope(std::string_view account) : previous_(std::exchange(t_caller, account)) {}

CallerScope::~CallerScope() {
    t_caller = previous_;
}

std::string_view current_caller() {
    return t_caller;
}

void set_max_level(Level level) {
    g_max_level.store(level, std::memory_order_relaxed);
}
Level max_level() {
    return g_max_level.load(std::memory_order_relaxed);
}
bool enabled(Level level) {
    return level <= max_level();
}

void set_sink(std::shared_ptr<Sink> sink) {
    g_sink.set(std::move(sink));
}

void dispatch(Level level, std::string_view target, const std::source_location& where,
              fmt::string_view format, fmt::format_args args) {
    auto sink = g_sink.get();
    if (!sink || !sink->accepts(level))
        return;
    fmt::memory_buffer message;
    fmt::vformat_to(std::back_inserter(message), format, args);
    sink->write(Record{level, target, where.file_name(), static_cast<std::uint32_t>(where.line()),
                       std::string_view(message.data(), message.size()), t_caller});
}

}  // namespace norvo::log
