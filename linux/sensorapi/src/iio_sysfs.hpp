#pragma once
// What the IIO sensor reads and writes in a device's sysfs folder. Every look-up takes the
// error_code forms: the sensor's thread has no one to catch an exception.

#include <time.h>

#include <array>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "norvo/linux/iio_tap_sensor.hpp"
#include "norvo/posix/error.hpp"

namespace norvo::linux_platform::iio {

// Whether `path` exists; false too when it cannot be looked at (a name too long, no search
// permission on the way).
bool exists(const std::filesystem::path& path);

// The names in `folder`, in name order; none when it cannot be read.
std::vector<std::string> folder_names(const std::filesystem::path& folder);

// The attribute's first line without trailing blanks; nothing when it cannot be read.
std::optional<std::string> read_attribute(const std::filesystem::path& file);

// Written, or already holding `value` (a udev rule may have set what the service may not).
[[nodiscard]] std::expected<void, posix::PosixError> set_attribute(
    const std::filesystem::path& file, std::string_view value);

// What kind of tap sensor the device folder is, if any: one whose events/ offer single taps,
// or one whose scan elements stream x, y and z without them.
std::optional<IioKind> kind_of(const std::filesystem::path& folder);

// The devices under `root` that are tap sensors, those with tap events first, each kind in
// name order.
std::vector<std::pair<std::string, IioKind>> tap_sensors(const std::filesystem::path& root);

// The driver's device name, printable ASCII, or the folder's name when it has none.
std::string model_of(const std::filesystem::path& folder);

struct Clock {
    clockid_t id;
    std::string name;  // as the device names it
};

// The clock of the device's timestamps, asked to be the monotonic one where the device offers
// a choice and lets it be set (not while its buffer or events are in use).
[[nodiscard]] std::expected<Clock, posix::PosixError> timestamp_clock(
    const std::filesystem::path& folder);

// Enables single taps; the model and the clock of the events.
struct Prepared {
    std::string model;
    Clock clock;
};
[[nodiscard]] std::expected<Prepared, posix::PosixError> prepare(
    const std::filesystem::path& folder);

// A sample accelerometer's axes: the value in m/s² is (raw + offset) × scale.
struct Axis {
    std::string channel;  // in_accel_x
    double scale = 0;
    double offset = 0;
};
struct Accelerometer {
    std::string model;
    std::array<Axis, 3> axes;
    std::filesystem::path rate;       // its sampling frequency attribute
    std::filesystem::path available;  // the rates it offers, if it says
};
[[nodiscard]] std::expected<Accelerometer, posix::PosixError> accelerometer(
    const std::filesystem::path& folder);

}  // namespace norvo::linux_platform::iio
