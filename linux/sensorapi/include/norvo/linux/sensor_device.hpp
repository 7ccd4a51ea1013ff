#pragma once
// Where the stand-in Sensor API meets the simulated tap sensor: a Unix socket on
// which it listens for one device (vtap-sensor) at a time. The host opens it
// before sensor managers are created. While it is closed or no device is
// connected, the tap sensor is absent; a device that disconnects leaves.

#include <expected>
#include <memory>
#include <string>
#include <thread>

namespace norvo::linux_platform {

class SensorDeviceSocket {
  public:
    // One at a time per process. A stale socket file at `path` is replaced.
    static std::expected<std::unique_ptr<SensorDeviceSocket>, std::string> open(
        const std::string& path);
    // The device leaves; the socket file is removed.
    ~SensorDeviceSocket();
    SensorDeviceSocket(const SensorDeviceSocket&) = delete;
    SensorDeviceSocket& operator=(const SensorDeviceSocket&) = delete;

    const std::string& path() const { return path_; }

  private:
    SensorDeviceSocket(std::string path, int listen_fd, int wake_fd, int epoll_fd);
    void run();

    std::string path_;
    int listen_fd_;
    int wake_fd_;
    int epoll_fd_;
    std::thread thread_;
};

}  // namespace norvo::linux_platform
