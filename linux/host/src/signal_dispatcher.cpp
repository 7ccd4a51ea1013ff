#include "norvo/linux_host/signal_dispatcher.hpp"

#include "norvo/host/log_targets.hpp"
#include "norvo/host/service_control.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace norvo::linux_host {
namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGTSTP, SIGCONT, SIGHUP, SIGPWR};

// Read by the handlers; set once before they are installed and never closed, so a
// late signal never writes to a reused descriptor.
std::atomic<int> g_write_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void wake_dispatcher(int signal) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    // Non-blocking: with the pipe full the dispatcher is awake anyway.
    [[maybe_unused]] const auto written = ::write(g_write_fd.load(), &byte, 1);
    errno = saved;
}

sigset_t dispatched_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : kSignals) sigaddset(&set, s);
    return set;
}

// As the service control manager would: a control the last status does not accept
// never reaches the handler.
void dispatch(host::ControlHandler& handler, int signal, std::uint32_t accepted) {
    const auto control = control_for_signal(signal);
    if (!control)
        return;
    if (!host::delivered(*control, accepted)) {
        host::kHostLog.debug("Signal {} ignored: control {} is not accepted now", signal, *control);
        return;
    }
    handler.handle(*control, 0, nullptr);
}

}  // namespace

std::optional<std::uint32_t> control_for_signal(int signal) {
    switch (signal) {
        case SIGTERM:
        case SIGINT:
            return host::control::stop;
        case SIGTSTP:
            return host::control::pause;
        case SIGCONT:
            return host::control::continue_;
        case SIGPWR:
            return host::control::shutdown;
        case SIGHUP:
            return host::control::param_change;
        default:
            return std::nullopt;
    }
}

std::expected<SignalDispatcher, std::string> SignalDispatcher::install() {
    if (g_write_fd.load() >= 0)
        return std::unexpected("the signal dispatcher is installed already");
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return std::unexpected(std::string("pipe2: ") + std::strerror(errno));
    g_write_fd.store(fds[1]);

    const sigset_t set = dispatched_signals();
    if (const int error = ::pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0)
        return std::unexpected(std::string("pthread_sigmask: ") + std::strerror(error));
    struct sigaction action{};
    action.sa_handler = &wake_dispatcher;
    action.sa_flags = SA_RESTART;
    sigfillset(&action.sa_mask);
    for (const int s : kSignals) {
        if (::sigaction(s, &action, nullptr) != 0)
            return std::unexpected(std::string("sigaction: ") + std::strerror(errno));
    }
    return SignalDispatcher(fds[0]);
}

void SignalDispatcher::run(host::ControlHandler& handler, const AcceptedControls& accepted,
                           int done_fd) const {
    sigset_t waiting;  // the thread's mask with the dispatched signals let through
    ::pthread_sigmask(SIG_SETMASK, nullptr, &waiting);
    for (const int s : kSignals) sigdelset(&waiting, s);

    for (;;) {
        pollfd fds[] = {{read_fd_, POLLIN, 0}, {done_fd, POLLIN, 0}};
        if (::ppoll(fds, 2, nullptr, &waiting) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        unsigned char signals[64];
        ssize_t n;
        while ((n = ::read(read_fd_, signals, sizeof signals)) > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                dispatch(handler, signals[i], accepted.load());
            }
        }
        if (fds[1].revents != 0)
            return;
    }
}

}  // namespace norvo::linux_host
