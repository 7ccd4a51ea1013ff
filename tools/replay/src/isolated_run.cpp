#include "norvo/replay/isolated_run.hpp"

#include "norvo/posix/unique_fd.hpp"
#include "norvo/replay/driver.hpp"

#include <fmt/format.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace norvo::replay {
namespace {

constexpr std::string_view kPassed = "PASS\n";
constexpr std::string_view kFailed = "FAIL\n";

// The verdict as the child writes it: PASS or FAIL, then one detail per line.
std::string encode(const Verdict& verdict) {
    std::string text(verdict.passed ? kPassed : kFailed);
    for (const auto& line : verdict.details) text += line + '\n';
    return text;
}

std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return lines;
}

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string read_all(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

[[noreturn]] void run_child(const Scenario& scenario, posix::UniqueFd out) {
    ::alarm(kScenarioTimeoutSeconds);
    bool written = write_all(out.get(), encode(judge(scenario, run_scenario(scenario))));
    out = {};  // std::exit closes nothing of ours
    // A normal exit, so that the sanitizers' leak check covers the scenario too.
    std::exit(written ? EXIT_SUCCESS : EXIT_FAILURE);
}

std::string how_it_ended(int status) {
    if (WIFSIGNALED(status)) {
        int signal = WTERMSIG(status);
        if (signal == SIGALRM) {
            return fmt::format("scenario did not finish within {} s", kScenarioTimeoutSeconds);
        }
        return fmt::format("scenario process killed by signal {} ({})", signal,
                           ::strsignal(signal));
    }
    return fmt::format("scenario process exited with status {}", WEXITSTATUS(status));
}

Verdict system_failure(std::string_view what) {
    return {false, {fmt::format("{} failed: {}", what, std::strerror(errno))}};
}

}  // namespace

Verdict run_isolated(const Scenario& scenario) {
    int fds[2];
    if (::pipe(fds) != 0)
        return system_failure("pipe");
    posix::UniqueFd reading(fds[0]);
    posix::UniqueFd writing(fds[1]);
    // Buffered output would otherwise be written twice, by parent and child.
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        return system_failure("fork");
    if (pid == 0) {
        reading = {};
        run_child(scenario, std::move(writing));
    }
    writing = {};
    std::string text = read_all(reading.get());
    reading = {};
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }

    const bool complete = text.starts_with(kPassed) || text.starts_with(kFailed);
    if (complete && WIFEXITED(status) && WEXITSTATUS(status) == EXIT_SUCCESS) {
        return {text.starts_with(kPassed), split_lines(text.substr(kPassed.size()))};
    }
    Verdict failed{false, {how_it_ended(status)}};
    for (auto& line : split_lines(text)) failed.details.push_back(std::move(line));
    return failed;
}

}  // namespace norvo::replay
