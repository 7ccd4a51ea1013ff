#pragma once
// A real tap sensor for the stand-in Sensor API: an accelerometer of the kernel's Industrial
// I/O subsystem, of either kind: one whose driver raises single-tap gesture events (each one
// a data report), or one that streams samples, in which the tap detector finds the taps. A
// usable device found is the tap sensor's enter, its going away the leave. A sample
// accelerometer's node is held, and its buffer runs, only while a start wants taps (a sink
// is registered on the sensor): the rest of the time another program may use the device.
// See docs/sensor-device.md.

#include <chrono>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "norvo/detect/tap_parameters.hpp"
#include "norvo/linux/iio_buffer.hpp"
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

class IioDevice;  // one device feeding the sensor (src/iio_device.hpp)

// Chips that detect taps themselves come first: their detection costs the machine nothing.
enum class IioKind { taps, samples };

struct IioSource {
    std::filesystem::path sysfs_root = "/sys/bus/iio/devices";
    std::string device;  // only this device; empty: the first tap device, else accelerometer
    IioEventOpener open_events = open_iio_events;
    IioNodeOpener open_node = open_iio_node;  // a sample accelerometer's, for its buffer
    detect::TapParameters tap_parameters{};
    // A sample accelerometer's buffer is read this often while a start wants taps.
    std::chrono::milliseconds read_period{100};
    // Null: no device events, so the held device is looked for (and a new one looked
    // for) every `check_interval` instead.
    std::unique_ptr<IioDeviceWatch> watch{};
    std::chrono::milliseconds check_interval{2000};
    // A node held by another program is tried again this often while the outage lasts.
    std::chrono::milliseconds retry_interval{2000};
    // Called on the sensor's thread with the device's name and kind before it enters and with
    // an empty name after it leaves, and once from open() with an empty name when no device
    // entered there; never from the destructor.
    std::function<void(const std::string& device, IioKind kind)> on_presence{};
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
    IioTapSensor(IioSource source, posix::EpollLoop loop, posix::UniqueFd timer);
    void run();
    // `quiet`: a hot-plug of some other device, not worth a Warn when no tap device is found.
    void scan(bool quiet);
    // Enters the device, or says why not (but for a node another program holds).
    enum class Entry { entered, busy, unusable };
    Entry try_enter(const std::string& name, IioKind kind);
    void take_changes();
    void on_timer();
    // Whether a start wants taps (the hub's sinks) changed, or its device's node may be free now.
    void follow_demand();
    // Another program holds the node of `name`: one line per outage, then tries on the timer.
    void held_by_another(const std::string& name, std::string_view what);
    // The timer runs while it has something to do: without a watch always, with one
    // only while a device's node is held by another program.
    void arm_timer();
    void drop_device();

    IioSource source_;
    posix::EpollLoop loop_;
    posix::UniqueFd timer_;
    // The sensor's thread's, once it runs.
    std::unique_ptr<IioDevice> device_;
    std::string held_elsewhere_;  // the device whose node another program holds, if any
    bool unavailable_ = false;    // its runs were told the sensor is not available
    std::thread thread_;
};

}  // namespace norvo::linux_platform
