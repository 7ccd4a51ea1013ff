#pragma once
// Where the daemon's IIO tap sensor looks: the device named on the command line or
// any, its hot-plug (iio_watch.hpp), and the test setting.

#include "norvo/linux/iio_tap_sensor.hpp"
#include "norvo/linux_host/options.hpp"

namespace norvo::linux_host {

// A test-only setting: a folder whose FIFO of each device's name stands in for its event
// descriptor, so tests feed records without hardware.
inline constexpr const char* kIioEventsVariable = "NORVO_VTAPD_TEST_IIO_EVENTS";

// Without device events (a Warn says why) the held device is looked for on a timer.
linux_platform::IioSource iio_source(const RunOptions& options, const char* test_events);

}  // namespace norvo::linux_host
