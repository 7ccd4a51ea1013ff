#pragma once
// Whole lines on standard output, flushed at once: callback lines come from the
// start call's thread while commands print theirs.

#include <mutex>
#include <string_view>

namespace norvo::vtapctl {

class Printer {
  public:
    void line(std::string_view text);

  private:
    std::mutex mutex_;
};

}  // namespace norvo::vtapctl
