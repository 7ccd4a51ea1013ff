#pragma once
// The daemon's logger: one line per record on standard error, prefixed with the
// sd-daemon priority so that journald files it at the right level.

#include <string>

#include "norvo/log.hpp"

namespace norvo::linux_host {

// "<6>QuelVextoraService: Application start\n". Line breaks inside the message are
// written as "\n" and "\r", so a record never spans lines.
std::string journal_line(const log::Record& record);

class JournalSink final : public log::Sink {
  public:
    // Writes the records up to `level`, as a trace session would ask for.
    explicit JournalSink(int fd = 2, log::Level level = log::Level::Trace)
        : fd_(fd), level_(level) {}
    bool accepts(log::Level level) const override { return level <= level_; }
    // One write per record, so lines of concurrent records do not mix.
    void write(const log::Record& record) override;

  private:
    int fd_;
    log::Level level_;
};

}  // namespace norvo::linux_host
