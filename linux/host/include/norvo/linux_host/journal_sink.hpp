#pragma once
// The daemon's logger: one line per record on standard error, prefixed with the
// sd-daemon priority so that journald files it at the right level. A journal that
// reads slowly never holds up the thread that logs: see BackgroundWriter.

#include <cstdint>
#include <string>

#include "norvo/linux_host/background_writer.hpp"
#include "norvo/log.hpp"

namespace norvo::linux_host {

// "<6>QuelVextoraService: Application start\n". Line breaks inside the message are
// written as "\n" and "\r", so a record never spans lines.
std::string journal_line(const log::Record& record);

// The Warn lines that stand for `dropped` records, or lines of standard output, lost
// to a full queue.
std::string dropped_records_line(std::uint64_t dropped);
std::string dropped_output_line(std::uint64_t dropped);

class JournalSink final : public log::Sink {
  public:
    static constexpr std::size_t kQueueBytes = std::size_t{1} << 20;

    // Writes the records up to `level`, as a trace session would ask for.
    explicit JournalSink(int fd = 2, log::Level level = log::Level::Trace,
                         std::size_t queue_bytes = kQueueBytes)
        : level_(level), writer_(fd, queue_bytes, dropped_records_line) {}
    bool accepts(log::Level level) const override { return level <= level_; }
    // Whole lines, so lines of concurrent records do not mix.
    void write(const log::Record& record) override;

  private:
    log::Level level_;
    BackgroundWriter writer_;
};

}  // namespace norvo::linux_host
