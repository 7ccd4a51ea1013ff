#pragma once
// Whole lines on standard output, flushed at once: callback lines come from the
// start call's thread while commands print theirs.

#include <cstdio>
#include <string_view>

#include "norvo/mutex.hpp"

namespace norvo::vtapctl {

class Printer {
  public:
    explicit Printer(std::FILE* out = stdout) : out_(out) {}
    void line(std::string_view text);

  private:
    std::FILE* out_;
    Mutex mutex_;  // held for one whole line
};

}  // namespace norvo::vtapctl
