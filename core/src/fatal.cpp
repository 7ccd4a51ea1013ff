#include "norvo/fatal.hpp"

#include <cxxabi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

namespace norvo {
namespace {

void report_to_stderr(const FatalError& error) {
    std::fprintf(stderr, "fatal error at %s:%u:%u: %.*s %.*s\n", error.where.file_name(),
                 static_cast<unsigned>(error.where.line()),
                 static_cast<unsigned>(error.where.column()),
                 static_cast<int>(error.fixed_message.size()), error.fixed_message.data(),
                 static_cast<int>(error.exception.size()), error.exception.data());
}

std::atomic<FatalHook> g_hook{&report_to_stderr};

std::string demangled(const char* name) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> readable(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return status == 0 && readable ? readable.get() : name;
}

// A hook that itself ends in terminate must not report again.
thread_local bool t_terminating = false;

[[noreturn]] void report_and_abort() {
    if (!t_terminating) {
        t_terminating = true;
        std::string exception;
        try {
            exception = describe_current_exception();
        } catch (...) {
            exception = "(not described: no memory left to describe it)";
        }
        g_hook.load()(FatalError{std::source_location::current(),
                                 exception.empty() ? "terminate called without an active exception"
                                                   : "uncaught exception",
                                 exception});
    }
    std::abort();
}

}  // namespace

void set_fatal_hook(FatalHook hook) {
    g_hook.store(hook ? hook : &report_to_stderr);
}

void fatal(std::string_view fixed_message, std::source_location where) {
    g_hook.load()(FatalError{where, fixed_message, {}});
    std::abort();
}

void install_terminate_handler() {
    std::set_terminate(&report_and_abort);
}

std::string describe_current_exception() {
    const std::exception_ptr current = std::current_exception();
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (!current || !type)
        return {};
    std::string text = demangled(type->name());
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& e) {
        text += ": ";
        text += e.what();
    } catch (...) {
    }
    return text;
}

}  // namespace norvo
