#pragma once
// A program run as a child with pipes on its standard streams.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvo::testing {

class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    // Kills a child still running.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void write(std::string_view text);
    void close_input();
    // The next line of standard output; none at its end.
    std::optional<std::string> read_line();
    // Reads standard output until a line equal to `line`; false at its end.
    bool read_until(std::string_view line);
    // What is left on standard output, and everything on standard error.
    std::vector<std::string> rest_of_output();
    std::string errors();

    void signal(int number);
    // The exit status, or 128 plus the signal that ended it.
    int wait();

  private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int error_ = -1;
    std::string buffered_;
    std::optional<int> status_;
};

}  // namespace norvo::testing
