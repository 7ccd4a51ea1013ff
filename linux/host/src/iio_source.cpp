#include "norvo/linux_host/iio_source.hpp"

#include <fcntl.h>

#include <cerrno>

#include "norvo/host/log_targets.hpp"
#include "norvo/linux_host/iio_watch.hpp"

namespace norvo::linux_host {
namespace {

// udevd's control socket: it exists while udevd runs.
constexpr const char* kUdevControl = "/run/udev/control";

// Nothing wakes the daemon for hot-plug unless a device comes or goes; only without any
// device events is the held device looked for on a timer.
std::unique_ptr<linux_platform::IioDeviceWatch> device_watch(std::chrono::milliseconds check) {
    std::error_code ignored;
    const bool udevd = std::filesystem::exists(kUdevControl, ignored);
    auto watch = udevd ? udev_device_events() : kernel_device_events();
    if (watch) {
        if (!udevd)
            host::kHostLog.info(
                "IIO hot-plug through the kernel's device events: udevd is not running");
        return std::move(*watch);
    }
    const auto& why = watch.error();
    host::kHostLog.warn("No IIO device events ({}): the tap device is looked for every {} s", why,
                        std::chrono::duration<double>(check).count());
    return nullptr;
}

}  // namespace

linux_platform::IioSource iio_source(const RunOptions& options, const char* test_events) {
    linux_platform::IioSource source;
    source.tap_parameters = options.tap_parameters;
    if (!options.iio_device.empty()) {
        source.sysfs_root = options.iio_device.parent_path();
        source.device = options.iio_device.filename();
    }
    if (test_events != nullptr) {
        // Opened for writing too, as the kernel's descriptor never ends when the device goes.
        source.open_events = [folder = std::filesystem::path(test_events)](const std::string& name)
            -> std::expected<posix::UniqueFd, linux_platform::IioOpenError> {
            posix::UniqueFd fifo(::open((folder / name).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
            if (!fifo.valid())
                return std::unexpected(
                    linux_platform::IioOpenError{linux_platform::IioOpenError::Step::node, errno});
            return fifo;
        };
    }
    source.watch = device_watch(source.check_interval);
    return source;
}

}  // namespace norvo::linux_host
