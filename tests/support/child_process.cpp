#include "child_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string_view>

extern char** environ;

namespace norvo::testing {
namespace {

void close_fd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::string_view name_of(std::string_view entry) {
    return entry.substr(0, entry.find('='));
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, ChildOptions options) {
    std::signal(SIGPIPE, SIG_IGN);  // a child that has gone shows as a failed write
    error_.keep = options.keep_error_lines;
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        fail("pipe2 failed");
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    if (options.discard_output) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    } else {
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    }
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        const bool replaced = std::ranges::any_of(
            options.env, [&](const std::string& mine) { return name_of(mine) == name_of(*e); });
        if (!replaced)
            envp.push_back(*e);
    }
    for (auto& e : options.env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
        fail("cannot run " + argv[0]);
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

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        wait();
    }
    close_fd(input_);
    close_fd(output_.fd);
    close_fd(error_.fd);
}

void ChildProcess::write(std::string_view text) {
    while (!text.empty()) {
        const auto n = ::write(input_, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail("the child no longer reads its input");
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void ChildProcess::close_input() {
    close_fd(input_);
}

std::optional<std::string> ChildProcess::take_output(std::string_view prefix) {
    return take(output_, prefix);
}

std::optional<std::string> ChildProcess::take_error(std::string_view prefix) {
    return take(error_, prefix);
}

std::optional<std::string> ChildProcess::take(Stream& stream, std::string_view prefix) {
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    for (;;) {
        while (stream.taken < stream.lines.size()) {
            const auto& line = stream.lines[stream.taken++];
            if (!line.starts_with(prefix))
                continue;
            std::string found = line;
            if (!stream.keep) {
                stream.lines.erase(stream.lines.begin(),
                                   stream.lines.begin() + static_cast<long>(stream.taken));
                stream.taken = 0;
            }
            return found;
        }
        if (stream.fd < 0 || !pump(deadline))
            return std::nullopt;
    }
}

bool ChildProcess::pump(std::chrono::steady_clock::time_point deadline) {
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

void ChildProcess::signal(int number) const {
    ::kill(pid_, number);
}

int ChildProcess::wait() {
    if (status_)
        return *status_;
    if (pid_ <= 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    while (output_.fd >= 0 || error_.fd >= 0) {
        if (!pump(deadline)) {
            fail("the child did not end in time");
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

std::vector<std::string> ChildProcess::rest_of_output() {
    std::vector<std::string> lines;
    while (auto line = take_output("")) lines.push_back(std::move(*line));
    return lines;
}

std::string ChildProcess::error_text() const {
    std::string text = problems_;
    for (const auto& line : error_.lines) text += line + "\n";
    return text + error_.partial;
}

std::string ChildProcess::errors() {
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    while (error_.fd >= 0 && pump(deadline)) {
    }
    return error_text();
}

void ChildProcess::fail(std::string_view what) {
    problems_ += "[";
    problems_ += what;
    problems_ += "]\n";
}

}  // namespace norvo::testing
