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
#include <utility>

extern char** environ;

namespace norvo::testing {
namespace {

// Both ends close-on-exec: the child gets only what is dup2'ed into it.
bool make_pipe(posix::UniqueFd& read_end, posix::UniqueFd& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    read_end = posix::UniqueFd(fds[0]);
    write_end = posix::UniqueFd(fds[1]);
    return true;
}

std::string_view name_of(std::string_view entry) {
    return entry.substr(0, entry.find('='));
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, ChildOptions options) {
    std::signal(SIGPIPE, SIG_IGN);  // a child that has gone shows as a failed write
    error_.keep = options.keep_error_lines;
    posix::UniqueFd child_in, child_out, child_err;
    if (!make_pipe(child_in, input_) || !make_pipe(output_.fd, child_out) ||
        !make_pipe(error_.fd, child_err)) {
        fail("pipe2 failed");
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, child_in.get(), 0);
    if (options.discard_output) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    } else {
        posix_spawn_file_actions_adddup2(&actions, child_out.get(), 1);
    }
    posix_spawn_file_actions_adddup2(&actions, child_err.get(), 2);
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
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

void ChildProcess::write(std::string_view text) {
    while (!text.empty()) {
        const auto n = ::write(input_.get(), text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail("the child no longer reads its input");
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void ChildProcess::close_input() {
    input_ = {};
}

std::optional<std::string> ChildProcess::take_output(std::string_view prefix,
                                                     std::chrono::seconds within) {
    return take(output_, prefix, within);
}

std::optional<std::string> ChildProcess::take_error(std::string_view prefix,
                                                    std::chrono::seconds within) {
    return take(error_, prefix, within);
}

std::optional<std::string> ChildProcess::take(Stream& stream, std::string_view prefix,
                                              std::chrono::seconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
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
        if (!stream.fd.valid() || !pump(deadline))
            return std::nullopt;
    }
}

bool ChildProcess::pump(std::chrono::steady_clock::time_point deadline) {
    std::vector<pollfd> fds;
    for (const auto* s : {&output_, &error_}) {
        if (s->fd.valid())
            fds.push_back({s->fd.get(), POLLIN, 0});
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
        if (!s->fd.valid())
            continue;
        pollfd probe{s->fd.get(), POLLIN, 0};
        if (::poll(&probe, 1, 0) <= 0)
            continue;
        char chunk[4096];
        const auto n = ::read(s->fd.get(), chunk, sizeof chunk);
        if (n <= 0) {
            s->fd = {};
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
    while (output_.fd.valid() || error_.fd.valid()) {
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
    while (error_.fd.valid() && pump(deadline)) {
    }
    return error_text();
}

void ChildProcess::fail(std::string_view what) {
    problems_ += "[";
    problems_ += what;
    problems_ += "]\n";
}

namespace {

// The child's pid, or -1 when none could be made.
pid_t fork_as(uid_t uid, const std::function<int()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0)
            ::_exit(100);
        ::_exit(work());
    }
    return child;
}

int exit_status(pid_t child) {
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return 200;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

}  // namespace

int run_as(uid_t uid, const std::function<int()>& work) {
    return exit_status(fork_as(uid, work));
}

UserProcess::UserProcess(uid_t uid, const std::function<int()>& work) {
    posix::UniqueFd tell_ready, await_release;
    if (!make_pipe(ready_, tell_ready) || !make_pipe(await_release, release_))
        return;
    pid_ = fork_as(uid, [&] {
        ready_ = {};  // the parent's ends: the child's copies would keep the pipes open
        release_ = {};
        if (const int failed = work(); failed != 0)
            return failed;
        char byte = 'R';
        [[maybe_unused]] auto written = ::write(tell_ready.get(), &byte, 1);
        [[maybe_unused]] auto until_released = ::read(await_release.get(), &byte, 1);
        return 0;
    });
}

UserProcess::~UserProcess() {
    if (pid_ > 0)
        finish();
}

bool UserProcess::ready() {
    char byte = 0;
    return ::read(ready_.get(), &byte, 1) == 1;
}

int UserProcess::finish() {
    release_ = {};
    return exit_status(std::exchange(pid_, -1));
}

}  // namespace norvo::testing
