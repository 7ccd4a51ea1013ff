#pragma once
// A device whose chip detects taps: its single-tap gesture events, each one data report.

#include <time.h>

#include "iio_device.hpp"
#include "norvo/posix/epoll_loop.hpp"
#include "norvo/posix/unique_fd.hpp"

namespace norvo::linux_platform {

// The kernel hands out whole records only, and a removed device neither wakes its reader nor
// ends the stream: only a read tells (ENODEV), so the removal comes from device events or the
// timed check.
class IioEventDevice final : public IioDevice {
  public:
    // `fd`, the device's event descriptor, is in `loop` already; `clock` times its events.
    IioEventDevice(std::string name, posix::UniqueFd fd, clockid_t clock,
                   const posix::EpollLoop& loop)
        : IioDevice(std::move(name), IioKind::taps),
          fd_(std::move(fd)),
          clock_(clock),
          loop_(loop) {}
    ~IioEventDevice() override { loop_.unwatch(fd_.get()); }

    bool ready(int fd) override;
    // The events come whether a start wants them or not.
    Demand want(bool) override { return Demand::met; }

  private:
    void handle(std::uint64_t id, std::int64_t timestamp) const;

    posix::UniqueFd fd_;
    clockid_t clock_;
    const posix::EpollLoop& loop_;
};

}  // namespace norvo::linux_platform
