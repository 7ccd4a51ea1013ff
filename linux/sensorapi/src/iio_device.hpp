#pragma once
// One IIO device feeding the tap sensor, as the IIO sensor's thread sees it: the descriptors it
// adds to the sensor's loop, and what it does when a start wants taps or no longer does.

#include <string>

#include "norvo/linux/iio_tap_sensor.hpp"

namespace norvo::linux_platform {

class IioDevice {
  public:
    IioDevice(std::string name, IioKind kind) : name_(std::move(name)), kind_(kind) {}
    virtual ~IioDevice() = default;
    IioDevice(const IioDevice&) = delete;
    IioDevice& operator=(const IioDevice&) = delete;

    const std::string& name() const { return name_; }
    // As log lines name it: "IIO tap device iio:device0", "IIO accelerometer iio:device0".
    std::string title() const {
        return (kind_ == IioKind::taps ? "IIO tap device " : "IIO accelerometer ") + name_;
    }

    // A descriptor of the loop that is not the sensor's own is ready (maybe one the device has
    // just closed: it takes no notice then). False once the device has gone or cannot be read.
    [[nodiscard]] virtual bool ready(int fd) = 0;

    enum class Demand {
        met,     // as wanted
        busy,    // another program holds the node it needs: worth trying again
        failed,  // said why in the log; tried again when the demand comes again
    };
    // Whether a start wants taps now.
    [[nodiscard]] virtual Demand want(bool taps) = 0;

  private:
    std::string name_;
    IioKind kind_;
};

}  // namespace norvo::linux_platform
