#pragma once
// What the IIO tap sensor reads and writes in a device's sysfs folder.

#include <time.h>

#include <expected>
#include <filesystem>
#include <string>
#include <vector>

#include "norvo/posix/error.hpp"

namespace norvo::linux_platform::iio {

// Whether `path` exists; false too when it cannot be looked at (a name too long, no search
// permission on the way): never throws, as the sensor's thread has no one to catch it.
bool exists(const std::filesystem::path& path);

// The names in `folder`, in name order; none when it cannot be read.
std::vector<std::string> folder_names(const std::filesystem::path& folder);

// The device folders under `root` whose events/ offer single taps, in name order.
std::vector<std::string> tap_devices(const std::filesystem::path& root);

struct Prepared {
    std::string model;       // the driver's device name, printable ASCII
    clockid_t clock;         // the clock of the events' timestamps
    std::string clock_name;  // as the device names it
};

// Enables single taps and asks for monotonic timestamps where the device offers a choice.
// An attribute that cannot be written but already holds the value is no failure.
[[nodiscard]] std::expected<Prepared, posix::PosixError> prepare(
    const std::filesystem::path& folder);

}  // namespace norvo::linux_platform::iio
