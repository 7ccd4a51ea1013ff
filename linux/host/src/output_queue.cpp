#include "norvo/linux_host/output_queue.hpp"

#include <fmt/format.h>

#include "norvo/linux_host/journal_sink.hpp"

namespace norvo::linux_host {

OutputQueue::OutputQueue(int fd, std::size_t queue_bytes)
    : writer_(fd, queue_bytes, dropped_output_line) {}

void OutputQueue::write_line(std::string_view line) {
    writer_.write(fmt::format("{}\n", line));
}

}  // namespace norvo::linux_host
