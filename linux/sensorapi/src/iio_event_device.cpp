#include "iio_event_device.hpp"

#include <linux/iio/events.h>
#include <linux/iio/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "device_hub.hpp"
#include "norvo/log.hpp"

namespace norvo::linux_platform {
namespace {

constexpr log::Target kLog{"norvo_linux::iio_tap_sensor"};

}  // namespace

bool IioEventDevice::ready(int fd) {
    if (fd != fd_.get())
        return true;
    iio_event_data events[16];
    const ssize_t n = ::read(fd_.get(), events, sizeof events);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    if (n < 0 && errno != ENODEV)
        kLog.error("Reading the events of IIO device {} failed: {}", name(), std::strerror(errno));
    if (n <= 0)
        return false;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof events[0]; ++i)
        handle(events[i].id, events[i].timestamp);
    return true;
}

void IioEventDevice::handle(std::uint64_t id, std::int64_t timestamp) const {
    if (IIO_EVENT_CODE_EXTRACT_TYPE(id) != IIO_EV_TYPE_GESTURE ||
        IIO_EVENT_CODE_EXTRACT_DIR(id) != IIO_EV_DIR_SINGLETAP) {
        kLog.debug("Ignored IIO event {:#018x} of {}: not a single tap", id, name());
        return;
    }
    timespec now{};
    ::clock_gettime(clock_, &now);
    const auto age_ns =
        (static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec) - timestamp;
    kLog.debug("IIO single tap on {}, {} us after the event", name(), age_ns / 1000);
    DeviceHub::instance().report(sensor_device::tap_report(0));  // the chip measures none
}

}  // namespace norvo::linux_platform
