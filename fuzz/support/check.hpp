#pragma once
// Invariant checks for the fuzz targets. A broken invariant aborts, which
// libFuzzer treats as a crash: it stops and keeps the input that caused it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <source_location>

namespace norvo::fuzz {

inline void check(bool holds, const char* what,
                  std::source_location where = std::source_location::current()) {
    if (holds)
        return;
    std::fprintf(stderr, "%s:%u: invariant broken: %s\n", where.file_name(),
                 static_cast<unsigned>(where.line()), what);
    std::abort();
}

}  // namespace norvo::fuzz
