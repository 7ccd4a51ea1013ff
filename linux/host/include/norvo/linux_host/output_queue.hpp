#pragma once
// The service's own standard output lines (the "unknown" line): a reader that stops
// must not hold up the thread that serves the call. Lines lost to a full queue are
// counted in a Warn line of their own, as the log's are.

#include <cstddef>
#include <string_view>

#include "norvo/linux_host/background_writer.hpp"
#include "norvo/standard_output.hpp"

namespace norvo::linux_host {

class OutputQueue final : public standard_output::Writer {
  public:
    static constexpr std::size_t kQueueBytes = 64 * 1024;

    explicit OutputQueue(int fd = 1, std::size_t queue_bytes = kQueueBytes);
    void write_line(std::string_view line) override;

  private:
    BackgroundWriter writer_;
};

}  // namespace norvo::linux_host
