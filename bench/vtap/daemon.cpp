#include "daemon.hpp"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace norvo::bench {
namespace {

constexpr std::string_view kServing = "RpcServer created";

std::unexpected<std::string> failed(std::string_view what) {
    return std::unexpected(std::string(what) + ": " + std::strerror(errno));
}

// Waits on `fds` for up to `left`; false when nothing came in time.
bool wait_readable(std::vector<pollfd>& fds, std::chrono::milliseconds left) {
    for (;;) {
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (ready >= 0)
            return ready > 0;
        if (errno != EINTR)
            return false;
    }
}

}  // namespace

std::expected<TempFolder, std::string> TempFolder::make() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vtap-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return failed("mkdtemp");
    return TempFolder(pattern);
}

TempFolder::~TempFolder() {
    if (path_.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::expected<std::unique_ptr<Daemon>, std::string> Daemon::start(
    const std::filesystem::path& program, std::chrono::seconds guard,
    const std::vector<std::string>& arguments) {
    auto folder = TempFolder::make();
    if (!folder)
        return std::unexpected(folder.error());
    std::unique_ptr<Daemon> daemon(new Daemon(std::move(*folder)));
    if (auto spawned = daemon->spawn(program, arguments); !spawned)
        return std::unexpected(spawned.error());
    if (auto serving = daemon->await_serving(guard); !serving)
        return std::unexpected(serving.error());
    return daemon;
}

std::expected<void, std::string> Daemon::spawn(const std::filesystem::path& program,
                                               const std::vector<std::string>& arguments) {
    posix::UniqueFd log(
        ::open(log_file().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (!log.valid())
        return failed("cannot create the daemon's log");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, log.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, log.get(), 2);
    std::vector<std::string> argv{program.string(), "--socket", endpoint().string(),
                                  "--sensor-socket", sensor_socket().string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    // Readiness comes from the log, not from a service manager.
    std::vector<char*> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (!std::string_view(*e).starts_with("NOTIFY_SOCKET="))
            env.push_back(*e);
    }
    env.push_back(nullptr);
    const int error = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        pid_ = -1;
        errno = error;
        return failed("cannot run " + program.string());
    }
    pidfd_ = posix::UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    if (!pidfd_.valid())
        return failed("pidfd_open");
    return {};
}

// Reads the log as it grows, woken by inotify, until the server is up or the daemon ends.
std::expected<void, std::string> Daemon::await_serving(std::chrono::seconds guard) {
    posix::UniqueFd changes(::inotify_init1(IN_CLOEXEC));
    if (!changes.valid() || ::inotify_add_watch(changes.get(), log_file().c_str(), IN_MODIFY) < 0)
        return failed("inotify");
    posix::UniqueFd log(::open(log_file().c_str(), O_RDONLY | O_CLOEXEC));
    if (!log.valid())
        return failed("cannot read the daemon's log");
    const auto deadline = std::chrono::steady_clock::now() + guard;
    std::string text;
    for (;;) {
        char chunk[4096];
        ssize_t n;
        while ((n = ::read(log.get(), chunk, sizeof chunk)) > 0)
            text.append(chunk, static_cast<std::size_t>(n));
        if (text.find(kServing) != std::string::npos)
            return {};
        std::vector<pollfd> fds{{changes.get(), POLLIN, 0}, {pidfd_.get(), POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !wait_readable(fds, left))
            return std::unexpected("norvo-vtapd did not start serving in time:\n" + text);
        if (fds[1].revents != 0)
            return std::unexpected("norvo-vtapd ended before serving:\n" + text);
        char events[4096];
        [[maybe_unused]] const auto drained = ::read(changes.get(), events, sizeof events);
    }
}

Daemon::~Daemon() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    std::vector<pollfd> fds{{pidfd_.get(), POLLIN, 0}};
    if (!pidfd_.valid() || !wait_readable(fds, std::chrono::seconds(30)))
        ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace norvo::bench
