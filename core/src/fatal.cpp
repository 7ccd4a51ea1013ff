#include "norvo/fatal.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace norvo {
namespace {

void report_to_stderr(const FatalError& error) {
    std::fprintf(stderr, "fatal error at %s:%u:%u: %.*s\n", error.where.file_name(),
                 static_cast<unsigned>(error.where.line()), static_cast<unsigned>(error.where.column()),
                 static_cast<int>(error.fixed_message.size()), error.fixed_message.data());
}

std::atomic<FatalHook> g_hook{&report_to_stderr};

}  // namespace

void set_fatal_hook(FatalHook hook) { g_hook.store(hook ? hook : &report_to_stderr); }

void fatal(std::string_view fixed_message, std::source_location where) {
    g_hook.load()(FatalError{where, fixed_message});
    std::abort();
}

}  // namespace norvo
