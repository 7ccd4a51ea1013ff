#pragma once
// Reads the daemon's standard error as it comes: sanitizer reports, and the log
// lines that show when every context opened has been closed again and every
// start has returned, which a round waits for before it counts anything.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::stress {

struct LogCounts {
    std::uint64_t opens = 0;
    std::uint64_t closes = 0;  // contexts destroyed, by RemoteClose or the rundown
    std::uint64_t starts = 0;
    std::uint64_t ends = 0;  // starts that returned
    bool settled() const { return opens == closes && starts == ends; }
};

class LogScan {
  public:
    // Called for every line, on the thread that reads the stream.
    void take(std::string_view line);
    // The stream has ended: nothing will settle any more.
    void end();
    // Blocks until the counts are settled; false when the deadline or the end comes first.
    bool wait_settled(std::chrono::steady_clock::time_point deadline);

    LogCounts counts() const;
    // The lines of sanitizer reports, as many as arrived.
    std::vector<std::string> reports() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    LogCounts counts_;
    bool ended_ = false;
    std::vector<std::string> reports_;
};

// A line that a sanitizer prints (log lines start with "<priority>" and never count).
bool is_sanitizer_line(std::string_view line);

}  // namespace norvo::stress
