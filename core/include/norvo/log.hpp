#pragma once
// The one log facade of the system. Records carry the caller's file and line;
// the message is formatted only when its level passes the maximum.

#include <fmt/format.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <source_location>
#include <string_view>
#include <type_traits>

namespace norvo::log {

enum class Level : std::uint8_t { Error = 1, Warn, Info, Debug, Trace };

std::string_view level_name(Level level);
// The level a name stands for, in any case ("trace", "Trace", "TRACE").
std::optional<Level> level_named(std::string_view name);

struct Record {
    Level level;
    std::string_view target;
    std::string_view file;
    std::uint32_t line;
    std::string_view message;
    // The account whose call the logging thread was serving (see CallerScope); empty for
    // the service's own lines.
    std::string_view caller = {};
};

class Sink {
  public:
    virtual ~Sink() = default;
    // Asked before the message is formatted; a sink that drops a level saves the formatting.
    virtual bool accepts(Level) const { return true; }
    // Called from any thread, without a facade lock held.
    virtual void write(const Record& record) = 0;
};

// Lines logged on this thread while a scope lives are caused by `account`'s call, so
// that a sink may limit them per account. The transport opens one around each call
// it serves; `service_own()` marks the service's own lines inside such a call.
class CallerScope {
  public:
    explicit CallerScope(std::string_view account);
    ~CallerScope();
    CallerScope(const CallerScope&) = delete;
    CallerScope& operator=(const CallerScope&) = delete;

    static CallerScope service_own() { return CallerScope(std::string_view{}); }

  private:
    std::string_view previous_;
};

// The account of the innermost scope on this thread; empty outside any.
std::string_view current_caller();

void set_max_level(Level level);
Level max_level();
bool enabled(Level level);

// Replaces the installed sink; the previous one keeps serving calls already in flight.
void set_sink(std::shared_ptr<Sink> sink);

void dispatch(Level level, std::string_view target, const std::source_location& where,
              fmt::string_view format, fmt::format_args args);

// A format string that also remembers where it was written.
template <class... Args>
struct Format {
    fmt::format_string<Args...> text;
    std::source_location where;

    template <class S>
        requires std::is_convertible_v<const S&, std::string_view>
    consteval Format(const S& s, std::source_location loc = std::source_location::current())
        : text(s), where(loc) {}
};

// A named log target, e.g. `constexpr log::Target kLog{"rpc_server"}; kLog.info("...")`.
class Target {
  public:
    constexpr explicit Target(std::string_view name) : name_(name) {}
    constexpr std::string_view name() const { return name_; }

    template <class... Args>
    void error(Format<std::type_identity_t<Args>...> f, Args&&... args) const {
        emit(Level::Error, f, std::forward<Args>(args)...);
    }
    template <class... Args>
    void warn(Format<std::type_identity_t<Args>...> f, Args&&... args) const {
        emit(Level::Warn, f, std::forward<Args>(args)...);
    }
    template <class... Args>
    void info(Format<std::type_identity_t<Args>...> f, Args&&... args) const {
        emit(Level::Info, f, std::forward<Args>(args)...);
    }
    template <class... Args>
    void debug(Format<std::type_identity_t<Args>...> f, Args&&... args) const {
        emit(Level::Debug, f, std::forward<Args>(args)...);
    }
    template <class... Args>
    void trace(Format<std::type_identity_t<Args>...> f, Args&&... args) const {
        emit(Level::Trace, f, std::forward<Args>(args)...);
    }

  private:
    template <class... Args>
    void emit(Level level, const Format<std::type_identity_t<Args>...>& f, Args&&... args) const {
        if (!enabled(level))
            return;
        dispatch(level, name_, f.where, f.text, fmt::make_format_args(args...));
    }

    std::string_view name_;
};

}  // namespace norvo::log
