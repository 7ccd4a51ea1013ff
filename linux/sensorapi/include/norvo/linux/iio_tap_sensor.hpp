#pragma once
// A real tap sensor for the stand-in Sensor API: an accelerometer of the kernel's
// Industrial I/O subsystem whose driver raises single-tap gesture events. A device
// found with taps enabled is the tap sensor's enter, its going away the leave, each
// single tap one data report. See docs/sensor-device.md.

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "norvo/posix/epoll_loop.hpp"
#include "norvo/posix/unique_fd.hpp"

namespace norvo::linux_platform {

// IIO devices coming and going; its descriptor is readable when changes are ready.
class IioDeviceWatch {
  public:
    struct Change {
        bool added = false;
        std::string name;  // the device's folder name, e.g. iio:device0
    };
    virtual ~IioDeviceWatch() = default;
    virtual int fd() const = 0;
    // The changes ready now; never waits. An error ends the watch.
    [[nodiscard]] virtual std::expected<std::vector<Change>, std::string> take() = 0;
};

// The event descriptor of a device (by folder name), non-blocking, or the errno.
using IioEventOpener = std::function<std::expected<posix::UniqueFd, int>(const std::string&)>;

// IIO_GET_EVENT_FD_IOCTL on /dev/NAME.
[[nodiscard]] std::expected<posix::UniqueFd, int> open_iio_events(const std::string& name);

struct IioSource {
    std::filesystem::path sysfs_root = "/sys/bus/iio/devices";
    std::string device;  // only this device; empty: the first one with single taps
    IioEventOpener open_events = open_iio_events;
    std::unique_ptr<IioDeviceWatch> watch{};  // null: no hot-plug
};

class IioTapSensor {
  public:
    // A device present now enters before this returns; none, or one that cannot be
    // used, is logged and leaves the sensor absent. Fails only for want of descriptors.
    [[nodiscard]] static std::expected<std::unique_ptr<IioTapSensor>, std::string> open(
        IioSource source);
    // The device leaves.
    ~IioTapSensor();
    IioTapSensor(const IioTapSensor&) = delete;
    IioTapSensor& operator=(const IioTapSensor&) = delete;

  private:
    class Device;
    IioTapSensor(IioSource source, posix::EpollLoop loop);
    void run();
    // `quiet`: a hot-plug of some other device, not worth a Warn when no tap device is found.
    void scan(bool quiet);
    void take_changes();
    void drop_device();

    IioSource source_;
    posix::EpollLoop loop_;
    std::unique_ptr<Device> device_;  // the sensor's thread's, once it runs
    std::thread thread_;
};

}  // namespace norvo::linux_platform
