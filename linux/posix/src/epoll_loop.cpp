#include "norvo/posix/epoll_loop.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

namespace norvo::posix {

std::expected<EpollLoop, PosixError> EpollLoop::create() {
    UniqueFd epoll(::epoll_create1(EPOLL_CLOEXEC));
    if (!epoll.valid())
        return std::unexpected(last_error("epoll_create1"));
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC));
    if (!wake.valid())
        return std::unexpected(last_error("eventfd"));
    EpollLoop loop(std::move(epoll), std::move(wake));
    if (auto watched = loop.watch(loop.wake_.get()); !watched)
        return std::unexpected(watched.error());
    return loop;
}

std::expected<void, PosixError> EpollLoop::watch(int fd, std::uint32_t events,
                                                 int operation) const {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    if (::epoll_ctl(epoll_.get(), operation, fd, &event) != 0)
        return std::unexpected(last_error("epoll_ctl"));
    return {};
}

void EpollLoop::unwatch(int fd) const {
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
}

void EpollLoop::wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto woken = ::write(wake_.get(), &one, sizeof one);
}

}  // namespace norvo::posix
