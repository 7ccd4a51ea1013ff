#include "support/thread_time.hpp"

#include <fmt/format.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "norvo/posix/unique_fd.hpp"

namespace norvo::testing {

std::optional<long> thread_by_name(pid_t pid, const std::string& name) {
    std::optional<long> first;
    for (const auto& task :
         std::filesystem::directory_iterator(fmt::format("/proc/{}/task", pid))) {
        std::string comm;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        const auto tid = std::stol(task.path().filename().string());
        if (comm == name && (!first || tid < *first))
            first = tid;
    }
    return first;
}

std::uint64_t runnable_ns(pid_t pid, long tid) {
    std::ifstream stat(fmt::format("/proc/{}/task/{}/schedstat", pid, tid));
    std::uint64_t running = 0, waiting = 0;
    stat >> running >> waiting;
    return running + waiting;
}

bool exchange_with_a_child(int round_trips) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return false;
    posix::UniqueFd mine(pair[0]), echoing(pair[1]);
    const pid_t echo = ::fork();
    if (echo < 0)
        return false;
    if (echo == 0) {
        mine = {};
        char byte = 0;
        while (::read(echoing.get(), &byte, 1) == 1 && ::write(echoing.get(), &byte, 1) == 1) {
        }
        ::_exit(0);
    }
    echoing = {};
    bool exchanged = true;
    char byte = 'x';
    for (int i = 0; i < round_trips && exchanged; ++i)
        exchanged = ::write(mine.get(), &byte, 1) == 1 && ::read(mine.get(), &byte, 1) == 1;
    mine = {};
    ::waitpid(echo, nullptr, 0);
    return exchanged;
}

}  // namespace norvo::testing
