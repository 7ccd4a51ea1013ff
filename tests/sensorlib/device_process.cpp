#include "device_process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

extern char** environ;

namespace norvo::testing {

DeviceProcess::DeviceProcess(const std::string& socket_path) {
    std::signal(SIGPIPE, SIG_IGN);  // a tool that has gone shows as a failed write
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2 failed";
        return;
    }
    const posix::UniqueFd tool_input(fds[0]);
    input_ = posix::UniqueFd(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, tool_input.get(), STDIN_FILENO);
    std::string program = VTAP_SENSOR_PATH;
    std::string quiet = "-q";
    std::string option = "--socket";
    std::string path = socket_path;
    char* argv[] = {program.data(), quiet.data(), option.data(), path.data(), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) {
        ADD_FAILURE() << "cannot start " << program;
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

DeviceProcess::~DeviceProcess() {
    finish();
}

void DeviceProcess::send(std::string_view lines) {
    while (!lines.empty()) {
        const ssize_t n = ::write(input_.get(), lines.data(), lines.size());
        if (n < 0 && errno == EINTR)
            continue;
        ASSERT_GT(n, 0) << "vtap-sensor no longer reads its input";
        lines.remove_prefix(static_cast<std::size_t>(n));
    }
}

int DeviceProcess::finish() {
    input_ = {};
    return wait();
}

int DeviceProcess::wait() {
    if (pid_ <= 0)
        return -1;
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace norvo::testing
