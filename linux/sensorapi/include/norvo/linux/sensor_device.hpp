#pragma once
// Where the stand-in Sensor API meets the simulated tap sensor: a Unix socket on
// which it listens for one device (vtap-sensor) at a time. The host opens it
// before sensor managers are created. While it is closed or no device is
// connected, the tap sensor is absent; a device that disconnects leaves.

#include <expected>
#include <memory>
#include <string>
#include <thread>

#include "norvo/posix/descriptor_reserve.hpp"
#include "norvo/posix/epoll_loop.hpp"
#include "norvo/posix/unique_fd.hpp"

namespace norvo::linux_platform {

class SensorDeviceSocket {
  public:
    // One at a time per process. A stale socket file at `path` is replaced. Its folder
    // must be private (posix::check_private_folder); the socket is made 0600.
    [[nodiscard]] static std::expected<std::unique_ptr<SensorDeviceSocket>, std::string> open(
        const std::string& path);
    // The device leaves; the socket file is removed.
    ~SensorDeviceSocket();
    SensorDeviceSocket(const SensorDeviceSocket&) = delete;
    SensorDeviceSocket& operator=(const SensorDeviceSocket&) = delete;

    const std::string& path() const { return path_; }

  private:
    SensorDeviceSocket(std::string path, posix::UniqueFd listen_fd, posix::UniqueFd backoff_fd,
                       posix::EpollLoop loop);
    void run();
    // Out of descriptors: the queued device is refused rather than left to wake the
    // loop for ever; without even that, the listener rests until the backoff timer.
    void shed_queued();
    void listen_again();

    std::string path_;
    posix::UniqueFd listen_fd_;
    posix::UniqueFd backoff_fd_;
    posix::EpollLoop loop_;
    posix::DescriptorReserve reserve_;
    bool out_of_descriptors_ = false;
    std::thread thread_;
};

}  // namespace norvo::linux_platform
