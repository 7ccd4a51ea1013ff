#include "child_process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

extern char** environ;

namespace norvo::testing {
namespace {

void close_fd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::string read_all(int fd) {
    std::string out;
    char chunk[4096];
    for (;;) {
        const auto n = ::read(fd, chunk, sizeof(chunk));
        if (n <= 0)
            return out;
        out.append(chunk, static_cast<std::size_t>(n));
    }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2 failed";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
        ADD_FAILURE() << "cannot run " << argv[0];
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    input_ = in[1];
    output_ = out[0];
    error_ = err[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        signal(SIGKILL);
        wait();
    }
    close_fd(input_);
    close_fd(output_);
    close_fd(error_);
}

void ChildProcess::write(std::string_view text) {
    while (!text.empty()) {
        const auto n = ::write(input_, text.data(), text.size());
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void ChildProcess::close_input() {
    close_fd(input_);
}

std::optional<std::string> ChildProcess::read_line() {
    for (;;) {
        if (const auto end = buffered_.find('\n'); end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line;
        }
        char chunk[4096];
        const auto n = ::read(output_, chunk, sizeof(chunk));
        if (n <= 0)
            return std::nullopt;
        buffered_.append(chunk, static_cast<std::size_t>(n));
    }
}

bool ChildProcess::read_until(std::string_view wanted) {
    while (auto line = read_line()) {
        if (*line == wanted)
            return true;
    }
    return false;
}

std::vector<std::string> ChildProcess::rest_of_output() {
    std::vector<std::string> lines;
    while (auto line = read_line()) lines.push_back(std::move(*line));
    return lines;
}

std::string ChildProcess::errors() {
    return read_all(error_);
}

void ChildProcess::signal(int number) {
    ::kill(pid_, number);
}

int ChildProcess::wait() {
    if (status_)
        return *status_;
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    status_ = WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw);
    return *status_;
}

}  // namespace norvo::testing
