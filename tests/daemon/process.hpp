#pragma once
// A built program run as a child, its standard streams on pipes. Waiting for an
// output line polls the pipes; the timeout only keeps a broken run from hanging.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::testing {

inline constexpr std::chrono::seconds kGuard{60};

class Process {
  public:
    // `env` entries ("NAME=value") come on top of this process's environment.
    explicit Process(std::vector<std::string> argv, std::vector<std::string> env = {});
    // Kills a child still running.
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    void write(std::string_view text);
    void close_input();

    // Waits until a line of standard output (or error) after the last one taken
    // starts with `prefix`, and returns it; lines before it are passed over. None when
    // the stream ends or the guard expires first.
    std::optional<std::string> take_output(std::string_view prefix);
    std::optional<std::string> take_error(std::string_view prefix);

    void signal(int number) const;
    // Waits for both streams to end, then for the child: its exit status, or 128 plus
    // the signal that ended it. -1 when the guard expires (the child is then killed).
    int wait();
    // Everything read from standard error so far, for failure messages.
    std::string error_text() const;

  private:
    struct Stream {
        int fd = -1;
        std::string partial;
        std::vector<std::string> lines;
        std::size_t taken = 0;
    };

    std::optional<std::string> take(Stream& stream, std::string_view prefix);
    // Reads what is there; false once the guard has expired.
    bool pump(std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int input_ = -1;
    Stream output_;
    Stream error_;
    std::optional<int> status_;
};

}  // namespace norvo::testing
