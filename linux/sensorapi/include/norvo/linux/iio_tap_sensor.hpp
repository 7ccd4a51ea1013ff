#pragma once
// A real tap sensor for the stand-in Sensor API: an accelerometer of the kernel's
// Industrial I/O subsystem whose driver raises single-tap gesture events. A device
// found with taps enabled is the tap sensor's enter, its going away the leave, each
// single tap one data report. See docs/sensor-device.md.

#include <chrono>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "norvo/posix/epoll_loop.hpp"
#include "norvo/posix/error.hpp"
#include "norvo/posix/unique_fd.hpp"

namespace norvo::linux_platform {

// IIO devices coming and going; its descriptor is readable when changes are ready.
class IioDeviceWatch {
  public:
    struct Change {
        bool added = false;  // or changed: worth a look; false: removed
        std::string name;    // the device's folder name, e.g. iio:device0
        bool operator==(const Change&) const = default;
    };
    virtual ~IioDeviceWatch() = default;
    virtual int fd() const = 0;
    // The changes ready now; never waits. An error ends the watch.
    [[nodiscard]] virtual std::expected<std::vector<Change>, posix::PosixError> take() = 0;
};

// Why a device's events could not be opened: the errno of opening its node
// (/dev/iio:deviceN, which one program at a time may hold) or of asking it for
// its event descriptor (which one reader at a time may hold).
struct IioOpenError {
    enum class Step { node, events };
    Step step;
    int code;
};

// The event descriptor of a device (by folder name), non-blocking.
using IioEventOpener =
    std::function<std::expected<posix::UniqueFd, IioOpenError>(const std::string&)>;

// IIO_GET_EVENT_FD_IOCTL on /dev/NAME.
[[nodiscard]] std::expected<posix::UniqueFd, IioOpenError> open_iio_events(const std::string& name);

struct IioSource {
    std::filesystem::path sysfs_root = "/sys/bus/iio/devices";
    std::string device;  // only this device; empty: the first one with single taps
    IioEventOpener open_events = open_iio_events;
    // Null: no device events, so the held device is looked for (and a new one looked
    // for) every `check_interval` instead.
    std::unique_ptr<IioDeviceWatch> watch{};
    std::chrono::milliseconds check_interval{2000};
    // A node held by another program is tried again this often while the outage lasts.
    std::chrono::milliseconds retry_interval{2000};
    // Called on the sensor's thread with the device's name before it enters and with an
    // empty name after it leaves, and once from open() with an empty name when no device
    // entered there; never from the destructor.
    std::function<void(const std::string& device)> on_presence{};
};

class IioTapSensor {
  public:
    // A device present now enters before this returns; none, or one that cannot be
    // used, is logged and leaves the sensor absent. Fails only for want of descriptors.
    [[nodiscard]] static std::expected<std::unique_ptr<IioTapSensor>, posix::PosixError> open(
        IioSource source);
    // The device leaves.
    ~IioTapSensor();
    IioTapSensor(const IioTapSensor&) = delete;
    IioTapSensor& operator=(const IioTapSensor&) = delete;

  private:
    class Device;
    IioTapSensor(IioSource source, posix::EpollLoop loop, posix::UniqueFd timer);
    void run();
    // `quiet`: a hot-plug of some other device, not worth a Warn when no tap device is found.
    void scan(bool quiet);
    void take_changes();
    void on_timer();
    // The timer runs while it has something to do: without a watch always, with one
    // only while a device's node is held by another program.
    void arm_timer();
    void drop_device();

    IioSource source_;
    posix::EpollLoop loop_;
    posix::UniqueFd timer_;
    // The sensor's thread's, once it runs.
    std::unique_ptr<Device> device_;
    std::string held_elsewhere_;  // the device whose node another program holds, if any
    std::thread thread_;
};

}  // namespace norvo::linux_platform
