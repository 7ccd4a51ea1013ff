#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

#include "norvo/posix/unique_fd.hpp"
#include "stop_signals.hpp"

namespace norvo::vtapctl {
namespace {

sigset_t stop_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void block_stop_signals() {
    const auto set = stop_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

struct StopSignalWatch::State {
    explicit State(std::function<void()> stop)
        : on_stop(std::move(stop)),
          signals(::signalfd(-1, &kStopSignals, SFD_CLOEXEC)),
          wake(::eventfd(0, EFD_CLOEXEC)),
          thread([this] { watch(); }) {}

    void watch() {
        pollfd fds[] = {{wake.get(), POLLIN, 0}, {signals.get(), POLLIN, 0}};
        while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
        }
        if (fds[1].revents != 0)
            on_stop();
    }

    static inline const sigset_t kStopSignals = stop_signals();
    std::function<void()> on_stop;
    posix::UniqueFd signals;
    posix::UniqueFd wake;
    std::thread thread;  // last: it uses everything above
};

StopSignalWatch::StopSignalWatch(std::function<void()> on_stop)
    : state_(std::make_unique<State>(std::move(on_stop))) {}

StopSignalWatch::~StopSignalWatch() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(state_->wake.get(), &one, sizeof(one));
    state_->thread.join();
}

}  // namespace norvo::vtapctl
