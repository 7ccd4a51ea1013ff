#pragma once
// A built program run as a child, its standard streams on pipes. Waiting for an
// output line blocks on the pipes; the guard only keeps a broken run from hanging.
// Failures (no pipe, no program, a child that stopped reading) show in error_text().

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "norvo/posix/unique_fd.hpp"

namespace norvo::testing {

inline constexpr std::chrono::seconds kGuard{60};

struct ChildOptions {
    // "NAME=value" entries; they replace this process's entries of the same name.
    std::vector<std::string> env;
    // Standard output goes to /dev/null instead of a pipe nobody reads.
    bool discard_output = false;
    // False: a line of standard error is forgotten once taken, so a child that logs
    // for hours costs no memory; error_text() then holds only what was never taken.
    bool keep_error_lines = true;
};

class ChildProcess {
  public:
    explicit ChildProcess(std::vector<std::string> argv, ChildOptions options = {});
    // Kills a child still running.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void write(std::string_view text);
    void close_input();

    // Waits until a line of standard output (or error) after the last one taken
    // starts with `prefix`, and returns it; lines before it are passed over. None when
    // the stream ends or `within` (the guard unless given) expires first.
    std::optional<std::string> take_output(std::string_view prefix,
                                           std::chrono::seconds within = kGuard);
    std::optional<std::string> take_error(std::string_view prefix,
                                          std::chrono::seconds within = kGuard);
    std::optional<std::string> read_line() { return take_output(""); }
    // Standard output up to its end, from the first line not yet taken.
    std::vector<std::string> rest_of_output();
    // True once standard error has ended.
    bool error_ended() const { return !error_.fd.valid(); }

    void signal(int number) const;
    // Waits for both streams to end, then for the child: its exit status, or 128 plus
    // the signal that ended it. -1 when the guard expires (the child is then killed).
    int wait();
    // Standard error as read so far, and any failure of this helper.
    std::string error_text() const;
    // Standard error up to its end.
    std::string errors();

  private:
    struct Stream {
        posix::UniqueFd fd;
        std::string partial;
        std::vector<std::string> lines;
        std::size_t taken = 0;
        bool keep = true;
    };

    std::optional<std::string> take(Stream& stream, std::string_view prefix,
                                    std::chrono::seconds within);
    // Reads what is there; false once the guard has expired.
    bool pump(std::chrono::steady_clock::time_point deadline);
    void fail(std::string_view what);

    pid_t pid_ = -1;
    posix::UniqueFd input_;
    Stream output_;
    Stream error_;
    std::string problems_;
    std::optional<int> status_;
};

// `work` in a forked child that has become `uid` (its group too): the child's exit
// status, which is what `work` returns, 100 when it could not become `uid`, or 200
// when it did not exit.
int run_as(uid_t uid, const std::function<int()>& work);

// `work` in a forked child under `uid`, as run_as, that keeps what its work made until
// finished. The work returns 0 when all went as expected, or the number of the step that
// did not; the child then tells the parent it is ready and waits to be let go.
class UserProcess {
  public:
    UserProcess(uid_t uid, const std::function<int()>& work);
    ~UserProcess();
    UserProcess(const UserProcess&) = delete;
    UserProcess& operator=(const UserProcess&) = delete;

    // True once the child is ready; false when it ended instead.
    bool ready();
    // Lets the child go; its exit status, as run_as's.
    int finish();

  private:
    pid_t pid_ = -1;
    posix::UniqueFd ready_;
    posix::UniqueFd release_;
};

}  // namespace norvo::testing
