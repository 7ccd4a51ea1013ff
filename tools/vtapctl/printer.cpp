#include "printer.hpp"

#include <cstdio>

namespace norvo::vtapctl {

void Printer::line(std::string_view text) {
    std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace norvo::vtapctl
