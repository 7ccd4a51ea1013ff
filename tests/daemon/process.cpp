#include "process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
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

}  // namespace

Process::Process(std::vector<std::string> argv, std::vector<std::string> env) {
    std::signal(SIGPIPE, SIG_IGN);  // a child that has gone shows as a failed write
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
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
        ADD_FAILURE() << "cannot run " << argv[0];
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    input_ = in[1];
    output_.fd = out[0];
    error_.fd = err[0];
}

Process::~Process() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        wait();
    }
    close_fd(input_);
    close_fd(output_.fd);
    close_fd(error_.fd);
}

void Process::write(std::string_view text) {
    while (!text.empty()) {
        const auto n = ::write(input_, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ADD_FAILURE() << "the child no longer reads its input";
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void Process::close_input() {
    close_fd(input_);
}

std::optional<std::string> Process::take_output(std::string_view prefix) {
    return take(output_, prefix);
}

std::optional<std::string> Process::take_error(std::string_view prefix) {
    return take(error_, prefix);
}

std::optional<std::string> Process::take(Stream& stream, std::string_view prefix) {
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    for (;;) {
        while (stream.taken < stream.lines.size()) {
            const auto& line = stream.lines[stream.taken++];
            if (line.starts_with(prefix))
                return line;
        }
        if (stream.fd < 0 || !pump(deadline))
            return std::nullopt;
    }
}

bool Process::pump(std::chrono::steady_clock::time_point deadline) {
    std::vector<pollfd> fds;
    for (const auto* s : {&output_, &error_}) {
        if (s->fd >= 0)
            fds.push_back({s->fd, POLLIN, 0});
    }
    if (fds.empty())
        return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return false;
    const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
    if (ready < 0)
        return errno == EINTR;
    if (ready == 0)
        return false;
    for (auto* s : {&output_, &error_}) {
        if (s->fd < 0)
            continue;
        pollfd probe{s->fd, POLLIN, 0};
        if (::poll(&probe, 1, 0) <= 0)
            continue;
        char chunk[4096];
        const auto n = ::read(s->fd, chunk, sizeof chunk);
        if (n <= 0) {
            close_fd(s->fd);
            continue;
        }
        s->partial.append(chunk, static_cast<std::size_t>(n));
        for (auto end = s->partial.find('\n'); end != std::string::npos;
             end = s->partial.find('\n')) {
            s->lines.push_back(s->partial.substr(0, end));
            s->partial.erase(0, end + 1);
        }
    }
    return true;
}

void Process::signal(int number) const {
    ::kill(pid_, number);
}

int Process::wait() {
    if (status_)
        return *status_;
    if (pid_ <= 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    while (output_.fd >= 0 || error_.fd >= 0) {
        if (!pump(deadline)) {
            ADD_FAILURE() << "the child did not end in time";
            ::kill(pid_, SIGKILL);
            break;
        }
    }
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    status_ = WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw);
    return *status_;
}

std::string Process::error_text() const {
    std::string text;
    for (const auto& line : error_.lines) text += line + "\n";
    return text + error_.partial;
}

}  // namespace norvo::testing
