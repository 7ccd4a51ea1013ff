#include "printer.hpp"

#include <cstdio>

namespace norvo::vtapctl {

void Printer::line(std::string_view text) {
    MutexLock lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

}  // namespace norvo::vtapctl
