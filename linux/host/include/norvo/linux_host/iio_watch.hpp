#pragma once
// The IIO devices' comings and goings, as the daemon hears them: udev's device events
// (sd-device) while udevd runs, since they come once its rules have set the node's owner
// and mode and the device's switches; otherwise the kernel's own (a netlink socket).

#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "norvo/linux/iio_tap_sensor.hpp"

namespace norvo::linux_host {

using linux_platform::IioDeviceWatch;

// What a device event of the iio subsystem with this ACTION about the device at DEVPATH
// means to the sensor: a device to look at (add, change), a removal, or nothing (bind, ...).
[[nodiscard]] std::optional<IioDeviceWatch::Change> iio_change(std::string_view action,
                                                               std::string_view devpath);

// A kernel uevent message ("ACTION@DEVPATH", then "KEY=VALUE" entries, each ending in a
// NUL): the change it makes when it is about an iio device.
[[nodiscard]] std::optional<IioDeviceWatch::Change> parse_uevent(std::span<const char> message);

// udev's device events, or the error that says why not.
[[nodiscard]] std::expected<std::unique_ptr<IioDeviceWatch>, posix::PosixError>
udev_device_events();
// The kernel's device events.
[[nodiscard]] std::expected<std::unique_ptr<IioDeviceWatch>, posix::PosixError>
kernel_device_events();

}  // namespace norvo::linux_host
