#pragma once
// A thread's wait on several descriptors that another thread can end: epoll, with
// an eventfd of its own in the set.

#include <sys/epoll.h>

#include <cerrno>
#include <cstdint>
#include <expected>

#include "norvo/posix/error.hpp"
#include "norvo/posix/unique_fd.hpp"

namespace norvo::posix {

class EpollLoop {
  public:
    [[nodiscard]] static std::expected<EpollLoop, PosixError> create();

    // Adds `fd` to the set, or changes its events with EPOLL_CTL_MOD.
    [[nodiscard]] std::expected<void, PosixError> watch(int fd, std::uint32_t events = EPOLLIN,
                                                        int operation = EPOLL_CTL_ADD) const;
    void unwatch(int fd) const;

    // Ends run(), from any thread.
    void wake() const;

    // Calls on_ready(fd) for each descriptor that is ready, until woken; the error
    // once waiting fails.
    template <class OnReady>
    std::expected<void, PosixError> run(OnReady on_ready) const {
        for (;;) {
            epoll_event events[4];
            const int n = ::epoll_wait(epoll_.get(), events, 4, -1);
            if (n < 0 && errno != EINTR)
                return std::unexpected(last_error("epoll_wait"));
            for (int i = 0; i < n; ++i) {
                if (events[i].data.fd == wake_.get())
                    return {};
                on_ready(events[i].data.fd);
            }
        }
    }

  private:
    EpollLoop(UniqueFd epoll, UniqueFd wake) : epoll_(std::move(epoll)), wake_(std::move(wake)) {}

    UniqueFd epoll_;
    UniqueFd wake_;
};

}  // namespace norvo::posix
